# Linux build: the tool runs on the simulated Windows machine.
find_package(fmt REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_library(pbacore STATIC ${PBA_CORE_SOURCES})
target_include_directories(pbacore PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(pbacore PUBLIC fmt::fmt)

file(GLOB_RECURSE PBA_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/sim/*.cpp)
list(FILTER PBA_SIM_SOURCES EXCLUDE REGEX ".*/sim_main\\.cpp$")
add_library(pbasim STATIC ${PBA_SIM_SOURCES})
target_link_libraries(pbasim PUBLIC pbacore nlohmann_json::nlohmann_json)

add_executable(pbaloader-sim ${CMAKE_SOURCE_DIR}/src/platform/sim/sim_main.cpp)
target_link_libraries(pbaloader-sim PRIVATE pbasim)

# The conformance tables, the machine fixture and the test main serve both the
# simulated machine's tests and the Linux host's: compiled once.
file(GLOB PBA_CONFORMANCE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/conformance/*.cpp)
add_library(pbatestshared OBJECT ${PBA_CONFORMANCE_SOURCES}
  ${CMAKE_SOURCE_DIR}/tests/support/sim_fixture.cpp ${CMAKE_SOURCE_DIR}/tests/native_main.cpp)
target_include_directories(pbatestshared PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(pbatestshared PRIVATE pbasim GTest::gtest)

file(GLOB_RECURSE PBA_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
list(FILTER PBA_TEST_SOURCES EXCLUDE REGEX ".*/(conformance_env_linux|sim_fixture)\\.cpp$")
add_executable(pbaloader-tests ${PBA_TEST_SOURCES} $<TARGET_OBJECTS:pbatestshared>)
target_include_directories(pbaloader-tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(pbaloader-tests PRIVATE
  PBA_SOURCE_DIR="${CMAKE_SOURCE_DIR}" PBA_SIM_EXE="$<TARGET_FILE:pbaloader-sim>")
target_link_libraries(pbaloader-tests PRIVATE pbasim GTest::gtest Threads::Threads)

enable_testing()
include(GoogleTest)
gtest_discover_tests(pbaloader-tests DISCOVERY_TIMEOUT 60)

# End-to-end scenarios through pbaloader-sim (golden output and disk checks).
file(GLOB PBA_E2E_RUNNER ${CMAKE_SOURCE_DIR}/tests/e2e/run_scenarios)
if(PBA_E2E_RUNNER)
  add_test(NAME e2e-scenarios
    COMMAND ${PBA_E2E_RUNNER} $<TARGET_FILE:pbaloader-sim> ${CMAKE_SOURCE_DIR}/tests/e2e)
endif()

# pbaloader on the real drives of a Linux host: the simulated machine's
# Windows semantics over the host's disks (src/platform/linux).
include(${CMAKE_SOURCE_DIR}/cmake/linux-scan.cmake)
file(GLOB PBA_LINUX_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/linux/*.cpp)
list(FILTER PBA_LINUX_SOURCES EXCLUDE REGEX ".*/linux_main\\.cpp$")
add_library(pbalinux STATIC ${PBA_LINUX_SOURCES})
target_link_libraries(pbalinux PUBLIC pbasim pbalinuxscan)

add_executable(pbaloader ${CMAKE_SOURCE_DIR}/src/platform/linux/linux_main.cpp)
target_link_libraries(pbaloader PRIVATE pbalinux)

# The host's own tests, and the conformance tables run against the host machine.
file(GLOB PBA_LINUX_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/linux/*_test.cpp)
add_executable(pbaloader-linux-tests ${PBA_LINUX_TESTS}
  ${CMAKE_SOURCE_DIR}/tests/support/conformance_env_linux.cpp
  ${CMAKE_SOURCE_DIR}/tests/linux/loop_device.cpp $<TARGET_OBJECTS:pbatestshared>)
target_include_directories(pbaloader-linux-tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(pbaloader-linux-tests PRIVATE
  PBA_SOURCE_DIR="${CMAKE_SOURCE_DIR}" PBA_LINUX_EXE="$<TARGET_FILE:pbaloader>")
target_link_libraries(pbaloader-linux-tests PRIVATE pbalinux GTest::gtest Threads::Threads)
# Loop devices are claimed one at a time: two tests may be handed the same free one.
gtest_discover_tests(pbaloader-linux-tests DISCOVERY_TIMEOUT 60 PROPERTIES RESOURCE_LOCK loop-devices)

# Every platform call failed in turn under a load, a clear, the listing and an
# interactive load (tests/sweep/run_sweep); a few minutes on two cores.
add_test(NAME fault-sweep
  COMMAND ${CMAKE_SOURCE_DIR}/tests/sweep/run_sweep $<TARGET_FILE:pbaloader-sim> --jobs 2)
set_tests_properties(fault-sweep PROPERTIES TIMEOUT 900 PROCESSORS 2)

# pbaloader-identify: the tool's identification of named drives as JSON, for
# the proving ground's judge (tests/proving/judge). Test-only.
add_executable(pbaloader-identify ${CMAKE_SOURCE_DIR}/tests/proving/identify_drives.cpp)
target_link_libraries(pbaloader-identify PRIVATE pbalinux)
add_test(NAME proving-identify
  COMMAND ${CMAKE_SOURCE_DIR}/tests/proving/identify_test $<TARGET_FILE:pbaloader-identify>
    ${CMAKE_SOURCE_DIR}/examples/machines/usb-sticks.json)
add_test(NAME proving-judge
  COMMAND ${CMAKE_SOURCE_DIR}/tests/proving/judge_test ${CMAKE_SOURCE_DIR}/tests/proving/judge)

include(${CMAKE_SOURCE_DIR}/cmake/fuzz.cmake)
