// SPDX-License-Identifier: GPL-2.0-or-later
// The wiki's address.
#include "Cli_Wiki.h"

#include <gtest/gtest.h>

#include <utility>

namespace tamsel::cli {
namespace {

TEST(Wiki, EndpointFromTheBaseAddress) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://wiki.example.org/", "https://wiki.example.org/lib/exe/xmlrpc.php"},
      {"https://wiki.example.org", "https://wiki.example.org/lib/exe/xmlrpc.php"},
      {"http://h:8080/wiki", "http://h:8080/wiki/lib/exe/xmlrpc.php"},
      {"http://h/wiki/doku.php?id=start", "http://h/wiki/lib/exe/xmlrpc.php"},
      {"http://h/w/lib/exe/xmlrpc.php", "http://h/w/lib/exe/xmlrpc.php"},
      {"ftp://h/", ""},
      {"wiki.example.org", ""},
      {"http://h/a b", ""},
  };
  for (const auto& [url, endpoint] : cases)
    EXPECT_EQ(XmlRpcEndpoint(url), endpoint) << url;
}

} // namespace
} // namespace tamsel::cli
