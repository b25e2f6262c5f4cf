// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Transport.h"
#include "Cli_Progress.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace tamsel::cli {

namespace {

// A certificate bundle larger than this is no bundle.
constexpr std::size_t kMaxBundle = std::size_t{16} << 20;

bool ReadPem(const std::string& path, std::string& out, std::string& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  if (static_cast<std::size_t>(info.st_size) > kMaxBundle) {
    error = "larger than a certificate bundle can be";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    error = in ? "cannot read" : std::strerror(errno);
    return false;
  }
  out = text.str();
  return true;
}

} // namespace

std::size_t AnswerLimit(std::size_t payload) {
  // base64 grows bytes by 4/3; twice that leaves room for line breaks and
  // an answer that is somewhat larger than the file it is compared with.
  return kAnswerFloor + (payload + 2) / 3 * 8;
}

long RequestDeadline(long stallSeconds, std::size_t bytes) {
  constexpr std::size_t kSlowLink = 32 << 10; // bytes per second
  return 2 * stallSeconds + 5 + static_cast<long>(bytes / kSlowLink);
}

bool DeclaresEntities(std::string_view xml) {
  for (std::size_t at = 0; (at = xml.find("<!", at)) != std::string_view::npos;) {
    const std::string_view rest = xml.substr(at);
    if (rest.starts_with("<!--")) {
      const std::size_t end = xml.find("-->", at + 4);
      if (end == std::string_view::npos) return false; // malformed; the parser refuses it
      at = end + 3;
    } else if (rest.starts_with("<![CDATA[")) {
      const std::size_t end = xml.find("]]>", at + 9);
      if (end == std::string_view::npos) return false;
      at = end + 3;
    } else {
      return true;
    }
  }
  return false;
}

std::string ServerText(std::string_view text, std::size_t max) {
  std::string out = Printable(text.substr(0, max));
  if (text.size() > max) {
    // The cut may have split a character; Printable shows its bytes escaped.
    out += "...";
  }
  return out;
}

std::string HostOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  url = url.substr(0, url.find_first_of("/?#"));
  if (const std::size_t at = url.rfind('@'); at != std::string_view::npos)
    url.remove_prefix(at + 1);
  if (url.starts_with("[")) return std::string(url.substr(0, url.find(']') + 1));
  return std::string(url.substr(0, url.rfind(':')));
}

TTrust LoadTrust(const std::string& caFile, const std::string& systemBundle) {
  TTrust trust;
  std::string path = caFile;
  if (!caFile.empty()) {
    trust.Source = "--cacert " + Printable(caFile);
  } else {
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
      const char* value = std::getenv(name);
      if (value && *value) {
        path = value;
        trust.Source = std::string(name) + "=" + Printable(value);
        break;
      }
    }
  }
  if (path.empty()) return trust;
  std::string given, error;
  if (!ReadPem(path, given, error)) {
    trust.Error = trust.Source + ": cannot read the certificates: " + error;
    return trust;
  }
  if (given.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    trust.Error = trust.Source + ": holds no certificate in PEM form (-----BEGIN CERTIFICATE-----)";
    return trust;
  }
  // libcurl takes one bundle in place of its default; the system's comes
  // first so that the given certificates add to it rather than replace it.
  std::string system;
  if (!systemBundle.empty() && ReadPem(systemBundle, system, error)) {
    trust.Bundle = std::move(system);
    if (!trust.Bundle.empty() && trust.Bundle.back() != '\n') trust.Bundle += '\n';
  }
  trust.Bundle += given;
  return trust;
}

std::string CertificateProblem(long verifyResult, std::string_view curlError) {
  // OpenSSL's X509_V_ERR_* numbers, stable across its versions.
  switch (verifyResult) {
  case 10:
    return "it has expired";
  case 9:
    return "it is not valid yet";
  case 18:
    return "it is self-signed";
  case 19:
    return "its chain ends in a self-signed CA that is not trusted here (unknown CA)";
  case 2:
  case 20:
  case 21:
    return "it is signed by a CA that is not trusted here (unknown CA)";
  case 23:
    return "it has been revoked";
  case 62:
    return "it was issued for another name";
  default:
    break;
  }
  if (curlError.find("does not match") != std::string_view::npos ||
      curlError.find("no alternative certificate subject name") != std::string_view::npos)
    return "it was issued for another name";
  if (curlError.find("expired") != std::string_view::npos) return "it has expired";
  if (curlError.find("self-signed") != std::string_view::npos ||
      curlError.find("self signed") != std::string_view::npos)
    return "it is self-signed";
  if (curlError.find("issuer") != std::string_view::npos)
    return "it is signed by a CA that is not trusted here (unknown CA)";
  return ServerText(curlError, 200);
}

} // namespace tamsel::cli
