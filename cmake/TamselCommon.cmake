# SPDX-License-Identifier: GPL-2.0-or-later
# Shared by the main build and the separate sanitizer/fuzzer build in fuzz/.

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
