// SPDX-License-Identifier: GPL-2.0-or-later
// What the wiki client trusts and bounds: declarations refused before the
// XML parser, server texts made safe, the certificates trusted.
#include "Cli_Transport.h"
#include "Cli_XmlRpc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace tamsel::cli;

constexpr const char* kAnswer = "<?xml version=\"1.0\"?>\n<methodResponse><params><param>"
                                "<value><string>%s</string></value></param></params>"
                                "</methodResponse>";

std::string Answer(const std::string& inner, const std::string& before = "") {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, kAnswer, inner.c_str());
  std::string out = buffer;
  out.insert(out.find("<methodResponse>"), before);
  return out;
}

TEST(Transport, DeclarationsNeverReachTheParser) {
  const struct {
    std::string Xml;
    bool Refused;
  } cases[] = {
      {Answer("plain"), false},
      {Answer("&lt;!DOCTYPE x&gt; written in a page"), false},
      {Answer("<![CDATA[<!DOCTYPE inside CDATA>]]>"), false},
      {Answer("x", "<!-- a comment <!ENTITY not one> -->"), false},
      {Answer("&l3;", "<!DOCTYPE l [<!ENTITY l0 \"lol\"><!ENTITY l1 \"&l0;&l0;\">]>"), true},
      {Answer("x", "<!doctype methodResponse>"), true},
      {Answer("x", "<!-- -->\n<!ENTITY e SYSTEM \"file:///etc/passwd\">"), true},
      {Answer("<![CDATA[ x ]]><!ELEMENT y ANY>"), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeclaresEntities(c.Xml), c.Refused) << c.Xml;
    const TRpcResponse decoded = DecodeResponse(c.Xml);
    if (c.Refused) {
      EXPECT_EQ(decoded.Status, TRpcResponse::TStatus::Malformed) << c.Xml;
      EXPECT_NE(decoded.Message.find("declares entities"), std::string::npos) << decoded.Message;
    }
  }
}

TEST(Transport, ServerTextsAreSafeForATerminal) {
  const struct {
    std::string In, Out;
  } cases[] = {
      {"File already exists", "File already exists"},
      {"caf\xc3\xa9 \xe2\x80\x94 ok", "caf\xc3\xa9 \xe2\x80\x94 ok"},
      {"\x1b[2Jcleared", "\\x1b[2Jcleared"},
      {"csi \xc2\x9b"
       "2J",
       "csi \\xc2\\x9b2J"},
      {"line\nbreak\r", "line\\nbreak\\r"},
      {"broken \xff utf-8", "broken \\xff utf-8"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ServerText(c.In), c.Out) << c.In;
  EXPECT_EQ(ServerText(std::string(1000, 'a'), 10), "aaaaaaaaaa...");
  // A fault's text comes out of the decoder already safe.
  const TRpcResponse fault = DecodeResponse(
      "<?xml version=\"1.0\"?><methodResponse><fault><value><struct><member><name>faultCode"
      "</name><value><int>1</int></value></member><member><name>faultString</name><value>"
      "<string>bad \xc2\x9b"
      "2J</string></value></member></struct></value></fault>"
      "</methodResponse>");
  ASSERT_EQ(fault.Status, TRpcResponse::TStatus::Fault);
  EXPECT_EQ(fault.Message, "bad \\xc2\\x9b2J");
}

TEST(Transport, HostsForMessages) {
  const struct {
    const char *Url, *Host;
  } cases[] = {
      {"https://wiki.example.org/lib/exe/xmlrpc.php", "wiki.example.org"},
      {"https://127.0.0.1:8443/", "127.0.0.1"},
      {"https://user:pw@wiki.example.org:443/x", "wiki.example.org"},
      {"https://[::1]:8443/lib", "[::1]"},
      {"http://wiki?x=1", "wiki"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HostOf(c.Url), c.Host) << c.Url;
}

TEST(Transport, CertificateProblemsInWords) {
  const struct {
    long Verify;
    const char* Curl;
    const char* Reason;
  } cases[] = {
      {10, "SSL certificate problem: certificate has expired", "expired"},
      {20, "SSL certificate problem: unable to get local issuer certificate", "unknown CA"},
      {19, "SSL certificate problem: self-signed certificate in certificate chain", "unknown CA"},
      {18, "SSL certificate problem: self-signed certificate", "self-signed"},
      {0, "SSL: no alternative certificate subject name matches target host name 'x'",
       "another name"},
      {0, "SSL: certificate subject name 'a' does not match target host name 'b'", "another name"},
  };
  for (const auto& c : cases)
    EXPECT_NE(CertificateProblem(c.Verify, c.Curl).find(c.Reason), std::string::npos)
        << c.Curl << " -> " << CertificateProblem(c.Verify, c.Curl);
}

class Trust : public ::testing::Test {
protected:
  std::filesystem::path Folder;
  void SetUp() override {
    char name[] = "/tmp/tamsel-trust-XXXXXX";
    Folder = mkdtemp(name);
    unsetenv("CURL_CA_BUNDLE");
    unsetenv("SSL_CERT_FILE");
  }
  void TearDown() override {
    std::filesystem::remove_all(Folder);
    unsetenv("CURL_CA_BUNDLE");
    unsetenv("SSL_CERT_FILE");
  }
  std::string File(const std::string& name, const std::string& text) {
    const auto path = Folder / name;
    std::ofstream(path) << text;
    return path.string();
  }
};

constexpr const char* kPem = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";

TEST_F(Trust, GivenCertificatesAddToTheSystems) {
  const std::string system = File("system.pem", "SYSTEM CAS\n");
  const std::string mine = File("mine.pem", kPem);
  const TTrust trust = LoadTrust(mine, system);
  EXPECT_TRUE(trust.Error.empty()) << trust.Error;
  EXPECT_EQ(trust.Bundle, std::string("SYSTEM CAS\n") + kPem);
  // No system bundle found: the given certificates alone, not an error.
  EXPECT_EQ(LoadTrust(mine, (Folder / "none").string()).Bundle, kPem);
  // Nothing given: libcurl's own store, untouched.
  EXPECT_TRUE(LoadTrust("", system).Bundle.empty());
}

TEST_F(Trust, EnvironmentWhenTheOptionIsAbsent) {
  const std::string system = File("system.pem", "SYSTEM\n");
  const std::string byCurl = File("curl.pem", kPem);
  const std::string bySsl = File("ssl.pem", std::string(kPem) + kPem);
  setenv("SSL_CERT_FILE", bySsl.c_str(), 1);
  EXPECT_EQ(LoadTrust("", system).Source, "SSL_CERT_FILE=" + bySsl);
  setenv("CURL_CA_BUNDLE", byCurl.c_str(), 1);
  EXPECT_EQ(LoadTrust("", system).Source, "CURL_CA_BUNDLE=" + byCurl);
  EXPECT_EQ(LoadTrust(bySsl, system).Source, "--cacert " + bySsl);
}

TEST_F(Trust, UnusableFilesAreRefused) {
  const std::string system = File("system.pem", "SYSTEM\n");
  const struct {
    std::string Path, Error;
  } cases[] = {
      {(Folder / "absent.pem").string(), "No such file"},
      {Folder.string(), "not a regular file"},
      {File("der.crt", std::string("0\x82\x01\x0a", 4)), "no certificate in PEM form"},
  };
  for (const auto& c : cases) {
    const TTrust trust = LoadTrust(c.Path, system);
    EXPECT_NE(trust.Error.find(c.Error), std::string::npos) << c.Path << ": " << trust.Error;
    EXPECT_TRUE(trust.Bundle.empty());
  }
}

} // namespace
