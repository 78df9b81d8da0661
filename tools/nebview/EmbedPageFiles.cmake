# Writes PageFiles.cpp (cmake -P): every file of the page as an array and the table
# findPageFile searches. Variables: OUTPUT (the .cpp) and FILES (a ;-list of paths).
set(types "html=text/html; charset=utf-8" "js=text/javascript; charset=utf-8" "css=text/css; charset=utf-8"
          "svg=image/svg+xml")
set(arrays "")
set(table "")
set(index 0)
foreach(path ${FILES})
  get_filename_component(name ${path} NAME)
  string(REGEX REPLACE "^.*\\." "" ext "${name}")
  set(type "")
  foreach(t ${types})
    if(t MATCHES "^${ext}=(.*)$")
      set(type "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(type STREQUAL "")
    message(FATAL_ERROR "no Content-Type for ${name}")
  endif()
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${name}\", \"${type}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Written by EmbedPageFiles.cmake from the page's files: do not edit.
#include \"tools/nebview/PageFiles.h\"

namespace NebView {

namespace {

${arrays}
const PageFile kFiles[] = {
${table}};

}  // namespace

const PageFile* findPageFile(const std::string& name) {
  for (const PageFile& f : kFiles)
    if (name == f.name) return &f;
  return nullptr;
}

}  // namespace NebView
")
# Unchanged files keep their time, so nothing is rebuilt for them.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
file(REMOVE ${OUTPUT}.tmp)
