# Helpers shared by the folder CMakeLists.
#
# neb_add_library(name SOURCES...): a static library of one layer. Every layer is built
# position independent with hidden visibility so that it can go into libnebloader.so and
# into the statically linked volconvert alike. Headers are included by their path from the
# top folder; the public headers (installed flat, beside nebloader.h) come from the
# include/ folder of the layer that owns them, so a layer sees only those of its own
# layer and the layers below it.
function(neb_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
  if(WIN32)
    # The layers go whole into nebloader.dll: the functions marked for export are defined
    # here, so they are declared dllexport, not dllimport.
    target_compile_definitions(${name} PUBLIC NEBLOADER_BUILDING)
  endif()
endfunction()

# neb_add_test(name SOURCES... LIBS libs...): one GoogleTest program registered with CTest.
function(neb_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(WIN32)
    # Test files that drive child processes through a POSIX shell (tests/CMakeLists.txt).
    foreach(posixOnly ${NEB_POSIX_ONLY_TESTS})
      list(FILTER T_SOURCES EXCLUDE REGEX "/${posixOnly}$")
    endforeach()
    if(NOT T_SOURCES)
      return()
    endif()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
  if(CMAKE_CROSSCOMPILING)
    # Listing the tests runs the program (through the emulator): at test time, not while
    # building.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# neb_add_bench(name SOURCES... LIBS libs...)
function(neb_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
endfunction()

# neb_add_layer(name DIRS dirs... LIBS libs...): a layer library from every .cpp file in
# the given folders (relative to the calling folder). New files are picked up at build time.
# Files named *Posix.cpp are built for POSIX systems only, *Win32.cpp for Windows only.
function(neb_add_layer name)
  cmake_parse_arguments(L "" "" "DIRS;LIBS" ${ARGN})
  set(srcs)
  foreach(d ${L_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND srcs ${found})
  endforeach()
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "Posix\\.cpp$")
  else()
    list(FILTER srcs EXCLUDE REGEX "Win32\\.cpp$")
  endif()
  if(NOT srcs)
    # An empty layer still has to exist as a target for the layers above it.
    set(srcs ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  neb_add_library(${name} ${srcs})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
endfunction()

# neb_add_test_folder(prefix LIBS libs...): test_<prefix> from the *Test.cpp files of the
# calling folder, and test_<prefix>_concurrency (CTest label "concurrency", also run under
# ThreadSanitizer) from concurrency/*Test.cpp.
function(neb_add_test_folder prefix)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  file(GLOB plain CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  file(GLOB conc CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/concurrency/*Test.cpp)
  if(plain)
    neb_add_test(test_${prefix} SOURCES ${plain} LIBS ${F_LIBS} LABELS unit)
  endif()
  if(conc)
    neb_add_test(test_${prefix}_concurrency SOURCES ${conc} LIBS ${F_LIBS} LABELS concurrency)
  endif()
endfunction()

# neb_export_plugin_api(target): a program that links the layers statically and loads the
# import plug-ins exports its own copies of the functions plug-ins call (those of
# loader/nebloader.map named after the plug-in contract: the frame's channel slots, the
# report sink, the memory budget and the large-block cache), so that a plug-in binds to
# them rather than to the copies of a second, shared library.
function(neb_export_plugin_api target)
  set(list_file ${CMAKE_BINARY_DIR}/neb-plugin-api.list)
  file(STRINGS ${PROJECT_SOURCE_DIR}/loader/nebloader.map lines REGEX "\"(OstraneFrameData|ZUtils|OSTUtils)::")
  set(text "{\n  extern \"C++\" {\n")
  foreach(line ${lines})
    string(STRIP "${line}" line)
    string(APPEND text "    ${line}\n")
  endforeach()
  string(APPEND text "  };\n};\n")
  file(WRITE ${list_file} "${text}")
  target_link_options(${target} PRIVATE -Wl,--dynamic-list=${list_file})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${list_file})
endfunction()

# neb_link_plugins_beside(target [dir]): in the build tree, links each import plug-in built
# here as <stem>_build.so into `dir` (default: the target's own folder) after `target` is
# built, where a program or package looks when the library found none beside itself
# (initalizeNebuLoader(dir, "build", ...)). On Windows each is copied as <stem>.dll beside
# the program instead, the first folder Windows searches for a module.
function(neb_link_plugins_beside target)
  set(dir $<TARGET_FILE_DIR:${target}>)
  if(ARGC GREATER 1)
    set(dir ${ARGV1})
  endif()
  foreach(plugin vdbport f3dport)
    if(TARGET ${plugin})
      add_dependencies(${target} ${plugin})
      if(WIN32)
        add_custom_command(TARGET ${target} POST_BUILD
          COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${plugin}> ${dir}/${plugin}.dll)
      else()
        add_custom_command(TARGET ${target} POST_BUILD
          COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:${plugin}> ${dir}/${plugin}_build.so)
      endif()
    endif()
  endforeach()
endfunction()

# neb_add_front_program(name SOURCES...): a program over libnebloader.so (nebinfo,
# nebview). Its entry point reads its arguments as UTF-8 through the platform layer's
# command-line piece (and on Windows the UTF-16 conversion it uses), compiled in: they
# hold no state, so the process still has one copy of the layers' state. Installed, it
# finds the library through its run path and the import plug-ins beside the library; in
# the build tree they are linked beside the program (neb_link_plugins_beside).
function(neb_add_front_program name)
  if(WIN32)
    add_executable(${name} ${ARGN} ${PROJECT_SOURCE_DIR}/zutils/platform/CommandLine.cpp
                   ${PROJECT_SOURCE_DIR}/zutils/platform/CommandLineWin32.cpp ${PROJECT_SOURCE_DIR}/zutils/Utf16.cpp)
    target_link_libraries(${name} PRIVATE shell32)
  else()
    add_executable(${name} ${ARGN} ${PROJECT_SOURCE_DIR}/zutils/platform/CommandLine.cpp
                   ${PROJECT_SOURCE_DIR}/zutils/platform/CommandLinePosix.cpp)
  endif()
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  neb_link_plugins_beside(${name})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
