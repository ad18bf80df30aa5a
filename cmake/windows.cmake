# The Windows build: the core, vxrt7-cli.exe and the core's test programs,
# cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake) and run under
# Wine by scripts/test-windows.sh. Included by the top-level CMakeLists.txt,
# which defines the core and the tool before it; the window, the simulator,
# the benchmarks and the fuzz targets are Linux only.

target_link_libraries(vxrt7-cli PRIVATE shell32)

# GoogleTest from Debian's sources (package googletest), built with the
# cross compiler.
set(VXRT7_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
add_library(vxrt7_gtest STATIC ${VXRT7_GTEST_SOURCE}/src/gtest-all.cc)
target_include_directories(vxrt7_gtest SYSTEM PUBLIC ${VXRT7_GTEST_SOURCE}/include
                                           PRIVATE ${VXRT7_GTEST_SOURCE})
target_link_libraries(vxrt7_gtest PUBLIC Threads::Threads)
add_library(vxrt7_gtest_main STATIC ${VXRT7_GTEST_SOURCE}/src/gtest_main.cc)
target_link_libraries(vxrt7_gtest_main PUBLIC vxrt7_gtest)

enable_testing()
# The core's test programs that need nothing of Linux, as on Linux, and
# test_windows: the serial port, the port list, the files and the tool on
# the Windows interfaces, against the simulator behind a Wine COM port.
# (The 1251 table's test compares with glibc's iconv, which Windows has not;
# the reply-end test runs the simulator's device in-process, which is Linux
# only.)
foreach(dir protocol config)
  file(GLOB files CONFIGURE_DEPENDS tests/${dir}/*.cpp tests/${dir}/*.h)
  list(FILTER files EXCLUDE REGEX "/(cp1251|reply_end)_test\\.cpp$")
  add_executable(test_${dir} ${files})
  target_link_libraries(test_${dir} PRIVATE vxrt7_core vxrt7_gtest_main)
  add_test(NAME test_${dir} COMMAND test_${dir})
endforeach()

# The file formats (.fcd, CSV) and the plans of the fleet's jobs, which
# stand on nothing of the system, with the Linux build's own tests.
add_executable(test_files tests/files/config_file_test.cpp tests/files/csv_numbers_test.cpp)
add_executable(test_fleet tests/fleet/job_plan_test.cpp)
foreach(program test_files test_fleet)
  target_link_libraries(${program} PRIVATE vxrt7_core vxrt7_fleet vxrt7_gtest_main)
  target_include_directories(${program} PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME ${program} COMMAND ${program})
endforeach()

file(GLOB files CONFIGURE_DEPENDS tests/windows/*.cpp tests/windows/*.h)
add_executable(test_windows ${files} tests/support/manual_dispatcher.cpp)
target_link_libraries(test_windows PRIVATE vxrt7_core vxrt7_gtest_main)
target_include_directories(test_windows PRIVATE ${CMAKE_SOURCE_DIR})
add_test(NAME test_windows COMMAND test_windows)
