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

file(GLOB_RECURSE PBA_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/conformance/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_executable(pbaloader-tests ${PBA_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/native_main.cpp)
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

include(${CMAKE_SOURCE_DIR}/cmake/fuzz.cmake)
