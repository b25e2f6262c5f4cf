# SPDX-License-Identifier: GPL-2.0-or-later
# Shared by the main build and the separate clang builds (fuzz/, tests/tsan/).

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# The sanitizer and fuzzer flags are clang's.
function(tamsel_require_clang what)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "${what} need clang: -DCMAKE_CXX_COMPILER=clang++-14")
  endif()
endfunction()

# One place for warnings, applied PRIVATE to every target of ours.
function(tamsel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wcast-align)
endfunction()

find_package(PkgConfig REQUIRED)
pkg_check_modules(TIDY REQUIRED IMPORTED_TARGET tidy)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
# Tidy and PCRE2 linked in where their archives are installed (Debian ships
# libtidys.a and libpcre2-8.a): a command-line run on a small page spends
# more on the dynamic loader (mapping two more libraries, resolving every
# call into them) than on its conversion.
option(TAMSEL_LINK_TIDY_STATIC "Link Tidy and PCRE2 from their static archives when found" ON)
if(TAMSEL_LINK_TIDY_STATIC)
  find_library(TAMSEL_TIDY_ARCHIVE NAMES libtidys.a libtidy.a HINTS ${TIDY_LIBRARY_DIRS})
  find_library(TAMSEL_PCRE2_ARCHIVE NAMES libpcre2-8.a HINTS ${PCRE2_LIBRARY_DIRS})
  if(TAMSEL_TIDY_ARCHIVE AND TAMSEL_PCRE2_ARCHIVE)
    set_property(TARGET PkgConfig::TIDY PROPERTY INTERFACE_LINK_LIBRARIES ${TAMSEL_TIDY_ARCHIVE})
    set_property(TARGET PkgConfig::PCRE2 PROPERTY INTERFACE_LINK_LIBRARIES ${TAMSEL_PCRE2_ARCHIVE})
  endif()
endif()
find_package(Threads REQUIRED)

# The converter built once more with instrumenting flags, for the separate
# clang builds; compile_flags may add coverage that only a fuzzer links.
function(tamsel_instrumented_engine name compile_flags link_flags)
  file(GLOB engine_sources CONFIGURE_DEPENDS ${TAMSEL_ROOT}/engine/*.cpp)
  add_library(${name} STATIC ${engine_sources})
  target_include_directories(${name} PUBLIC ${TAMSEL_ROOT}/engine)
  target_compile_options(${name} PUBLIC ${compile_flags})
  target_link_options(${name} PUBLIC ${link_flags})
  target_link_libraries(${name} PUBLIC PkgConfig::TIDY PkgConfig::PCRE2 Threads::Threads)
  tamsel_warnings(${name})
endfunction()

# The converter's own tests (golden cases, escaping, links) against one of
# its builds: the main one, or an instrumented one of the clang builds, which
# so run every engine test the main build runs.
function(tamsel_engine_tests name engine)
  get_filename_component(tests ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tests ABSOLUTE)
  add_executable(${name} ${tests}/golden_runner.cpp ${tests}/engine_tests.cpp
                         ${tests}/escape_tests.cpp ${tests}/url_tests.cpp)
  target_link_libraries(${name} PRIVATE ${engine} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TAMSEL_GOLDEN_DIR="${tests}/golden")
  tamsel_warnings(${name})
endfunction()

