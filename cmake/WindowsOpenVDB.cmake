# OpenVDB for the Windows build: the static libraries scripts/build-windows-stack.sh
# cross-builds from Debian's source packages, in the folders NEB_WIN_OPENVDB_STACK lists
# (OpenVDB's core, oneTBB, c-blosc, lz4, Imath and the Boost headers OpenVDB includes).
# They become the targets the Linux build gets from find_package(OpenVDB):
# OpenVDB::openvdb and TBB::tbb.
if(NOT NEB_WIN_OPENVDB_STACK)
  message(FATAL_ERROR "volconvert, neb2vdb and vdbport need OpenVDB built for Windows: run "
    "scripts/build-windows-stack.sh <file> and configure with -C <file>, or turn NEB_BUILD_VOLCONVERT "
    "and NEB_BUILD_VDBPORT off")
endif()

set(neb_stack_includes)
foreach(dir ${NEB_WIN_OPENVDB_STACK})
  list(APPEND neb_stack_includes ${dir}/include)
endforeach()

# The stack's folders lie outside the target's root: looked up there and nowhere else.
function(neb_stack_library var)
  find_library(${var} NAMES ${ARGN} PATHS ${NEB_WIN_OPENVDB_STACK} PATH_SUFFIXES lib
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${var})
    message(FATAL_ERROR "${ARGV1} is missing from the Windows stack (NEB_WIN_OPENVDB_STACK)")
  endif()
endfunction()
neb_stack_library(NEB_WIN_OPENVDB_LIBRARY openvdb)
neb_stack_library(NEB_WIN_TBB_LIBRARY tbb12 tbb)
neb_stack_library(NEB_WIN_BLOSC_LIBRARY blosc)
neb_stack_library(NEB_WIN_LZ4_LIBRARY lz4)
neb_stack_library(NEB_WIN_IMATH_LIBRARY Imath-3_1 Imath)

add_library(TBB::tbb STATIC IMPORTED)
set_target_properties(TBB::tbb PROPERTIES
  IMPORTED_LOCATION ${NEB_WIN_TBB_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES "${neb_stack_includes}"
  INTERFACE_LINK_LIBRARIES Threads::Threads)

# OpenVDB was built without explicit template instantiation (see the stack script), so
# every object using its trees instantiates them: -mbig-obj lifts PE/COFF's limit of
# 2^15 sections per object. Boost's uuid generator reads random bytes through bcrypt.
add_library(OpenVDB::openvdb STATIC IMPORTED)
set_target_properties(OpenVDB::openvdb PROPERTIES
  IMPORTED_LOCATION ${NEB_WIN_OPENVDB_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES "${neb_stack_includes}"
  INTERFACE_COMPILE_DEFINITIONS "OPENVDB_STATICLIB;_USE_MATH_DEFINES;NOMINMAX;BOOST_ALL_NO_LIB"
  INTERFACE_COMPILE_OPTIONS "-Wa,-mbig-obj"
  INTERFACE_LINK_LIBRARIES
    "TBB::tbb;${NEB_WIN_BLOSC_LIBRARY};${NEB_WIN_LZ4_LIBRARY};${NEB_WIN_IMATH_LIBRARY};ZLIB::ZLIB;bcrypt")
