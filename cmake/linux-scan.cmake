# The scanner of the Linux machine's whole disks (sysfs through libudev,
# partition tables through libblkid) and its tests against recorded trees.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
pkg_check_modules(LIBBLKID REQUIRED IMPORTED_TARGET blkid)

file(GLOB PBA_LINUX_SCAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/linux/scan/*.cpp)
add_library(pbalinuxscan STATIC ${PBA_LINUX_SCAN_SOURCES})
target_compile_features(pbalinuxscan PUBLIC cxx_std_20)
target_include_directories(pbalinuxscan PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(pbalinuxscan PRIVATE PkgConfig::LIBUDEV PkgConfig::LIBBLKID)

file(GLOB PBA_LINUX_SCAN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/linux/scan/*.cpp)
add_executable(pbaloader-linux-scan-tests ${PBA_LINUX_SCAN_TESTS})
target_compile_definitions(pbaloader-linux-scan-tests PRIVATE
  PBA_LINUX_SYSFS_FIXTURES="${CMAKE_SOURCE_DIR}/tests/fixtures/linux-sysfs"
  PBA_RECORD_SYSFS="${CMAKE_SOURCE_DIR}/tests/linux/scan/record-sysfs")
target_link_libraries(pbaloader-linux-scan-tests PRIVATE pbalinuxscan GTest::gtest_main)
gtest_discover_tests(pbaloader-linux-scan-tests DISCOVERY_TIMEOUT 60)
