# Shared by the main build and the separate sanitizer/fuzzer build in fuzz/.

# One place for warnings, applied PRIVATE to every target of ours.
function(tamsel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wcast-align)
endfunction()

find_package(PkgConfig REQUIRED)
pkg_check_modules(TIDY REQUIRED IMPORTED_TARGET tidy)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
find_package(Threads REQUIRED)
