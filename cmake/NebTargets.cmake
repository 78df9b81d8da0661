# Helpers shared by the folder CMakeLists.
#
# neb_add_library(name SOURCES...): a static library of one layer. Every layer is built
# position independent with hidden visibility so that it can go into libnebloader.so and
# into the statically linked volconvert alike.
function(neb_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/loader/include>)
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
endfunction()

# neb_add_test(name SOURCES... LIBS libs...): one GoogleTest program registered with CTest.
function(neb_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}")
endfunction()

# neb_add_bench(name SOURCES... LIBS libs...)
function(neb_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  target_compile_options(${name} PRIVATE ${NEB_WARNINGS})
endfunction()
