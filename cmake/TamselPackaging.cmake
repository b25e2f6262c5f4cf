# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package: "cpack -G DEB" in the build folder writes
# tamsel_<version>_<arch>.deb (the programs) and, when the library is
# installed, libtamsel-dev_<version>_<arch>.deb.

set(TAMSEL_PACKAGE_MAINTAINER "Tamsel maintainers <maintainers@tamsel.org>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME tamsel)
set(CPACK_PACKAGE_VENDOR "The Tamsel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TAMSEL_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# Each package's description below starts with its own summary line, which
# CPack takes as it is while CPACK_PACKAGE_DESCRIPTION_SUMMARY stays unset.
# Release builds carry debug information; the package does not.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
if(TAMSEL_INSTALL_DEVELOPMENT)
  list(APPEND CPACK_COMPONENTS_ALL development)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAMSEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Depends from the libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl is loaded only when a wiki is written to, so dpkg-shlibdeps cannot
# see it (CURLOPT_PROTOCOLS_STR needs 7.85).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libcurl4 (>= 7.85.0)")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tamsel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION text)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS dokuwiki)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "convert HTML into DokuWiki markup
Tamsel turns HTML into DokuWiki wiki text. Its window converts HTML typed or
pasted into one editor after every change and shows the DokuWiki markup in
another, ready to paste into a wiki page; text copied from a web browser is
pasted as HTML.
.
The command tamsel-cli converts files and pipes, reads the encodings web
pages declare, and migrates a whole HTML site into a DokuWiki's page and
media folders, resolving links between pages and copying images.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtamsel-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtidy-dev, libpcre2-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "HTML to DokuWiki converter library (development files)
The converter behind Tamsel as a static C++20 library, its header and a
CMake package (find_package(Tamsel), target Tamsel::engine), for programs
that convert HTML into DokuWiki markup themselves.")

# "make package_source": the tracked tree, without what builds and tests leave.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME tamsel-${PROJECT_VERSION})
set(CPACK_SOURCE_IGNORE_FILES "/\\.git$" "/\\.git/" "/build[^/]*/" "/fuzz-out/" "__pycache__" "\\.swp$"
    "/\\.cache/")

include(CPack)
