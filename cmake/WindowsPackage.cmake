# The Windows package, nebloader-<version>-win64.zip (cpack in the MinGW build folder):
#   bin/                 nebloader.dll, nebinfo.exe, nebsample.exe; nebview.exe when built
#                        (cpp-httplib's single header given: tools/nebview/CMakeLists.txt)
#   lib/                 libnebloader.dll.a (MinGW), nebloader.lib (MSVC)
#   lib/cmake/nebloader  find_package(nebloader) for MinGW hosts
#   include/             nebloader.h
#   share/nebloader/     the sample frame
# The library's install rules put the DLL, the import libraries, the header and the
# package files there; the tools are added here.
install(TARGETS nebsample RUNTIME DESTINATION bin)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME nebloader)
set(CPACK_PACKAGE_VENDOR nebloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME nebloader-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "nebloader for 64-bit Windows hosts (MinGW and MSVC)")
include(CPack)
