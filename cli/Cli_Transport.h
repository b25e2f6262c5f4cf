// SPDX-License-Identifier: GPL-2.0-or-later
// What the HTTP side of the wiki client trusts and bounds: the certificates
// it accepts, how much of an answer it reads, how long a request may take,
// and which answers never reach the XML parser.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tamsel::cli {

// Enough for the calls' small answers and a page of common size; an answer
// that carries a file or a page's text gets room for its size on top. Four
// workers parsing answers this large stay far below a gigabyte.
constexpr std::size_t kAnswerFloor = std::size_t{16} << 20;

// The most bytes an answer may have (after decompression) when it is
// expected to carry payload bytes (a file in base64, a page's text with its
// characters escaped as XML), with room to spare.
std::size_t AnswerLimit(std::size_t payload);

// Seconds a whole request may take, however steadily bytes trickle: twice
// the stall time and a little, plus the time to move `bytes` at a slow
// link's pace.
long RequestDeadline(long stallSeconds, std::size_t bytes);

// True when the document holds a markup declaration (<!DOCTYPE, <!ENTITY,
// anything "<!" but comments and CDATA): no XML-RPC answer needs one, and an
// entity declared there can expand a small answer without bound.
bool DeclaresEntities(std::string_view xml);

// A server's text made safe for a terminal: control bytes and broken UTF-8
// escaped, cut to about max bytes.
std::string ServerText(std::string_view text, std::size_t max = 300);

// The host of an http(s) address, for messages.
std::string HostOf(std::string_view url);

struct TTrust {
  std::string Bundle; // PEM: the system's certificates and the given ones; empty: libcurl's own
  std::string Source; // what named the extra certificates ("--cacert x.pem", "SSL_CERT_FILE=...")
  std::string Error;  // why the given certificates cannot be used
};

// The certificates to trust: the system's bundle plus those of caFile, or
// when that is empty of the file CURL_CA_BUNDLE or else SSL_CERT_FILE names.
TTrust LoadTrust(const std::string& caFile, const std::string& systemBundle);

// Why a certificate did not verify, in words, from OpenSSL's verify result
// and libcurl's error text.
std::string CertificateProblem(long verifyResult, std::string_view curlError);

} // namespace tamsel::cli
