# The Windows package, nebloader-<version>-win64.zip (cpack in the MinGW build folder):
#   bin/                 nebloader.dll, vdbport.dll and f3dport.dll (beside the DLL, where the
#                        loader looks), nebinfo.exe, nebsample.exe, volconvert.exe, neb2vdb.exe;
#                        nebview.exe when built (cpp-httplib's single header given:
#                        tools/nebview/CMakeLists.txt)
#   lib/                 libnebloader.dll.a (MinGW), nebloader.lib (MSVC)
#   lib/cmake/nebloader  find_package(nebloader) for MinGW hosts
#   include/             nebloader.h
#   share/nebloader/     the sample frame
#   share/doc/nebloader/ the licences of what is linked in: zlib (the DLL),
#                        OpenVDB, oneTBB, c-blosc, lz4, Imath and Boost (the converters and
#                        the plug-in)
# The library's, the plug-in's and the converters' install rules put their files there;
# nebsample and the licences are added here. The programs are stripped in the package.
install(TARGETS nebsample RUNTIME DESTINATION bin)
# Each folder holds licence files named <library>-<file> (scripts/build-windows-stack.sh).
foreach(dir ${NEB_WIN_LICENCE_DIRS})
  install(DIRECTORY ${dir}/ DESTINATION share/doc/nebloader)
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME nebloader)
set(CPACK_PACKAGE_VENDOR nebloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME nebloader-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "nebloader for 64-bit Windows hosts (MinGW and MSVC)")
set(CPACK_STRIP_FILES ON)
include(CPack)
