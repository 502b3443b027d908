# Windows build (MinGW-w64 cross build here, or native MinGW on Windows).
# {fmt} is used header-only so that no Windows build of the library is needed.
if(NOT PBA_FMT_INCLUDE_DIR)
  set(PBA_FMT_INCLUDE_DIR /usr/include)
endif()
if(CMAKE_CROSSCOMPILING)
  # Expose only fmt's headers, never the host's whole include directory.
  set(PBA_WIN_INCLUDE ${CMAKE_BINARY_DIR}/win-include)
  file(MAKE_DIRECTORY ${PBA_WIN_INCLUDE})
  if(NOT EXISTS ${PBA_WIN_INCLUDE}/fmt)
    file(CREATE_LINK ${PBA_FMT_INCLUDE_DIR}/fmt ${PBA_WIN_INCLUDE}/fmt SYMBOLIC)
  endif()
else()
  # A native MinGW toolchain: fmt's headers sit in the toolchain's own tree.
  set(PBA_WIN_INCLUDE ${PBA_FMT_INCLUDE_DIR})
endif()

set(PBA_WIN_LIBS ole32 oleaut32 wbemuuid setupapi uuid)
add_link_options(-static -static-libgcc -static-libstdc++)

file(GLOB_RECURSE PBA_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp)
list(FILTER PBA_WIN32_SOURCES EXCLUDE REGEX ".*/win_main\\.cpp$")

add_library(pbacore STATIC ${PBA_CORE_SOURCES} ${PBA_WIN32_SOURCES})
target_include_directories(pbacore PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_include_directories(pbacore SYSTEM PUBLIC ${PBA_WIN_INCLUDE})
target_compile_definitions(pbacore PUBLIC FMT_HEADER_ONLY UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(pbacore PUBLIC ${PBA_WIN_LIBS})

add_executable(pbaloader ${CMAKE_SOURCE_DIR}/src/platform/win32/win_main.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/win32/pbaloader.rc)
target_link_libraries(pbaloader PRIVATE pbacore)
# wmain: the command line arrives as UTF-16, not in the ANSI code page.
target_link_options(pbaloader PRIVATE -municode)

# GoogleTest from the distribution's sources, built for Windows.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
if(NOT PBA_GTEST_SOURCE_DIR)
  set(PBA_GTEST_SOURCE_DIR /usr/src/googletest)
endif()
if(NOT EXISTS ${PBA_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(STATUS "No GoogleTest sources in ${PBA_GTEST_SOURCE_DIR}: building pbaloader.exe only")
  return()
endif()
add_subdirectory(${PBA_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -Wno-error)

file(GLOB_RECURSE PBA_WINTEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/conformance/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
add_executable(pbaloader-wintests ${PBA_WINTEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/win_main.cpp)
target_include_directories(pbaloader-wintests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(pbaloader-wintests PRIVATE PBA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(pbaloader-wintests PRIVATE pbacore gtest version)
add_dependencies(pbaloader-wintests pbaloader)
