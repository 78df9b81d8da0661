# Installation extras and the Debian package, included last by the top-level CMakeLists
# (after every install rule of the folders).
#
#   cmake --build build/release --target package    # -> build/release/nebloader_<version>_amd64.deb
#
# The package is made from the project's own install rules with the prefix /usr; nothing
# is installed that the install rules do not name (tests, benchmarks, fuzz targets and the
# sample-frame writer have none).
include(GNUInstallDirs)

# pkg-config file. The prefix is found from the file's own place (${pcfiledir}), so the
# same file is right under /usr (the package), /usr/local and any --prefix.
file(RELATIVE_PATH neb_pc_to_prefix /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" neb_pc_to_prefix "${neb_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/nebloader.pc.in ${CMAKE_BINARY_DIR}/nebloader.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/nebloader.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Manual pages, section 1, gzip-compressed as Debian keeps them. The GNU-style tools' pages
# are made from their --help and --version texts by help2man at build time; volconvert's
# command line is not GNU-style, so its page is written by hand.
# Sanitizer builds are never packaged and their tools may not run cleanly outside the
# tests' environment settings, and a cross build's tools do not run on the build machine:
# no pages there.
find_program(NEB_HELP2MAN help2man)
if(NEB_SANITIZE OR CMAKE_CROSSCOMPILING)
  set(neb_make_man_pages OFF)
else()
  set(neb_make_man_pages ON)
endif()
set(neb_man_dir ${CMAKE_BINARY_DIR}/man)
set(neb_man_pages)
set(neb_man_names
  "neb2vdb=convert nebu2 cache sequences to sparse OpenVDB files"
  "nebinfo=show what nebu2 cache frames hold and check that they decode"
  "nebsample=write a sample nebu2 cache sequence of a smoke plume")
foreach(entry ${neb_man_names})
  string(REGEX REPLACE "=.*" "" tool "${entry}")
  string(REGEX REPLACE "^[^=]*=" "" summary "${entry}")
  if(NOT TARGET ${tool} OR NOT neb_make_man_pages)
    continue()
  endif()
  if(NOT NEB_HELP2MAN)
    message(STATUS "help2man not found: no manual page for ${tool} (Debian package help2man)")
    continue()
  endif()
  add_custom_command(OUTPUT ${neb_man_dir}/${tool}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${neb_man_dir}
    COMMAND ${NEB_HELP2MAN} --no-info --section=1 --name=${summary}
            --source=nebloader --output=${neb_man_dir}/${tool}.1 $<TARGET_FILE:${tool}>
    COMMAND gzip -9nf ${neb_man_dir}/${tool}.1
    DEPENDS ${tool}
    COMMENT "Writing the manual page of ${tool}"
    VERBATIM)
  list(APPEND neb_man_pages ${neb_man_dir}/${tool}.1.gz)
endforeach()
if(TARGET volconvert AND neb_make_man_pages)
  add_custom_command(OUTPUT ${neb_man_dir}/volconvert.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${neb_man_dir}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/tools/volconvert/volconvert.1 > ${neb_man_dir}/volconvert.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/volconvert/volconvert.1
    COMMENT "Compressing the manual page of volconvert")
  list(APPEND neb_man_pages ${neb_man_dir}/volconvert.1.gz)
endif()
if(neb_man_pages)
  add_custom_target(nebloader_man ALL DEPENDS ${neb_man_pages})
  install(FILES ${neb_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package (CPack, DEB generator).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nebloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "nebloader developers")
set(CPACK_PACKAGE_CONTACT "nebloader developers <nebloader@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader of nebu2 fluid simulation caches, OpenVDB converters")
set(CPACK_PACKAGE_DESCRIPTION
  "The shared library libnebloader.so reads the nebu2 frame caches a fluid simulator\nwrites and gives them to host applications through a small binary interface; the\nimport plug-ins vdbport and f3dport bring in OpenVDB and Field3D (HDF5 and\nOgawa) files through it. The tools neb2vdb and volconvert convert cache sequences\nto OpenVDB files, nebinfo shows what frames hold and checks them, nebsample writes\na sample sequence. Also the headers, the CMake package and pkg-config file, the\nPython 3 module nebloader (numpy arrays) and the Blender add-on nebu2_import\n(File > Import > nebu2 cache).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the binaries (dpkg-shlibdeps: OpenVDB's for vdbport,
# libhdf5's serial flavour for f3dport); libnebloader.so itself is in the package, found in
# the staging tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_LIBDIR})
# libnebloader.so.1 (soname, SOVERSION = the C interface's major version) with a shlibs
# file, "libnebloader 1 nebloader (>= <version>)": a package built against this one depends
# on a nebloader at least this new, and the soname keeps it off a later major version.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The Python module: dpkg-shlibdeps cannot see the interpreter an extension module is built
# for (it does not link libpython), so the dependency on that python3 is named here.
set(neb_deb_depends "python3-numpy")
if(TARGET _nebloader AND Python_EXECUTABLE)
  execute_process(COMMAND ${Python_EXECUTABLE} -c
    "import sys, sysconfig; print('%d.%d' % sys.version_info[:2]); print('%d.%d' % (sys.version_info[0], sys.version_info[1] + 1)); print(sysconfig.get_path('platlib'))"
    OUTPUT_VARIABLE neb_python OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" neb_python "${neb_python}")
  list(GET neb_python 0 neb_python_this)
  list(GET neb_python 1 neb_python_next)
  set(neb_deb_depends "python3 (>= ${neb_python_this}), python3 (<< ${neb_python_next}), ${neb_deb_depends}")
  # Debian's python3 looks for packaged modules in /usr/lib/python3/dist-packages, which no
  # prefix-relative install folder gives; the package moves the module there (see the script).
  set(CPACK_NEB_PYTHON_INSTALL_DIR ${NEB_PYTHON_INSTALL_DIR})
  set(CPACK_NEB_PYTHON_DEBIAN_DIR lib/python3/dist-packages)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebPythonFolder.cmake)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${neb_deb_depends}")
# The add-on in share/blender/scripts/addons (blender/CMakeLists.txt) is for Debian's Blender.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS blender)
# Maintainer scripts: byte-compile the Python package on installation, clean it on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(NOT NEB_HELP2MAN AND neb_make_man_pages)
  message(WARNING "help2man not found: the Debian package would lack the tools' manual pages")
endif()
include(CPack)
