# CPack pre-build script of the Debian package: moves the Python package `nebloader` from
# the folder the install rules give (the interpreter's platlib relative to the prefix,
# e.g. lib/python3.11/dist-packages) to Debian's folder of packaged modules,
# lib/python3/dist-packages, which no prefix-relative folder gives. The module's run path
# ($ORIGIN/../../..) keeps pointing at lib/: both folders are three levels below it.
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(from "${root}/${CPACK_NEB_PYTHON_INSTALL_DIR}/nebloader")
set(to "${root}/${CPACK_NEB_PYTHON_DEBIAN_DIR}/nebloader")
if(from STREQUAL to)
  return()
endif()
if(NOT IS_DIRECTORY "${from}")
  message(FATAL_ERROR "the Python package is not where the install rules put it: ${from}")
endif()
file(MAKE_DIRECTORY "${root}/${CPACK_NEB_PYTHON_DEBIAN_DIR}")
file(RENAME "${from}" "${to}")
# Remove the folders the move emptied (dist-packages, python3.X) up to the prefix.
get_filename_component(dir "${from}" DIRECTORY)
while(dir MATCHES "^${root}/.")
  file(GLOB left "${dir}/*")
  if(left)
    break()
  endif()
  file(REMOVE_RECURSE "${dir}")
  get_filename_component(dir "${dir}" DIRECTORY)
endwhile()
