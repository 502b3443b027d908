# Fuzz targets of tests/fuzz/: one per decoder of bytes that come from outside
# the tool. Each target tests/fuzz/<a_b>.cpp becomes fuzz-<a-b>, its seeds lie
# in tests/fuzz/corpus/<a-b>/.
#
# With PBA_FUZZ (the fuzz preset, clang) they link the libFuzzer engine and the
# custom target `fuzzers` builds them all. Otherwise each one is a replay of its
# corpus, registered with ctest, so that every input that once found a fault
# keeps being run by the ordinary tests.
option(PBA_FUZZ "Build the fuzz targets with libFuzzer (clang only)" OFF)

file(GLOB PBA_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
add_library(pbafuzz STATIC ${CMAKE_SOURCE_DIR}/tests/fuzz/support/fuzz_platform.cpp)
target_include_directories(pbafuzz PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(pbafuzz PUBLIC pbasim)

if(PBA_FUZZ)
  add_custom_target(fuzzers)
endif()
foreach(source ${PBA_FUZZ_TARGETS})
  get_filename_component(stem ${source} NAME_WE)
  string(REPLACE "_" "-" name ${stem})
  if(PBA_FUZZ)
    add_executable(fuzz-${name} EXCLUDE_FROM_ALL ${source})
    target_link_options(fuzz-${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers fuzz-${name})
  else()
    add_executable(fuzz-${name} ${source} ${CMAKE_SOURCE_DIR}/tests/fuzz/support/replay_main.cpp)
    add_test(NAME fuzz-corpus-${name}
      COMMAND fuzz-${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
  endif()
  target_link_libraries(fuzz-${name} PRIVATE pbafuzz)
endforeach()
