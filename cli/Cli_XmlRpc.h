// SPDX-License-Identifier: GPL-2.0-or-later
// XML-RPC over HTTP: values, the wire format (through libxmlrpc-c), and a
// client (through libcurl) that many threads may call at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tamsel::cli {

struct TRpcValue {
  enum class TKind { Nil, Bool, Int, Double, String, Base64, DateTime, Array, Struct };
  TKind Kind = TKind::Nil;
  bool Bool = false;
  std::int64_t Int = 0;
  double Double = 0;
  std::string Text; // String, the bytes of Base64, DateTime as sent
  std::vector<TRpcValue> Items;
  std::vector<std::pair<std::string, TRpcValue>> Members;

  static TRpcValue String(std::string text);
  static TRpcValue Bytes(std::string bytes);
  static TRpcValue Boolean(bool value);
  static TRpcValue Struct(std::vector<std::pair<std::string, TRpcValue>> members);

  const TRpcValue* Member(std::string_view name) const;
  // Bool and Int both count: DokuWiki answers some calls with either.
  bool IsTrue() const;
};

// True when text may appear in an XML 1.0 document: no control characters
// other than tab and line ends, no U+FFFE or U+FFFF. Expects valid UTF-8.
bool IsXmlText(std::string_view text);

// A methodCall document. Strings must be valid UTF-8 and IsXmlText.
std::string EncodeCall(std::string_view method, const std::vector<TRpcValue>& params);

struct TRpcResponse {
  enum class TStatus { Value, Fault, Malformed };
  TStatus Status = TStatus::Malformed;
  TRpcValue Value;
  int FaultCode = 0;
  std::string Message; // the fault's string, or why the document is no response
};

// Reads a methodResponse. Never throws for bad input.
TRpcResponse DecodeResponse(std::string_view xml);

struct TRpcClientOptions {
  std::string Endpoint; // http(s)://host/path/lib/exe/xmlrpc.php
  bool Insecure = false;
  // PEM certificates trusted besides the system's; empty: the file that
  // CURL_CA_BUNDLE or SSL_CERT_FILE names, if any.
  std::string CaFile;
  long ConnectSeconds = 20;
  long StallSeconds = 60; // a request moving no byte this long fails
  unsigned Attempts = 4;
  std::chrono::milliseconds FirstDelay{500}; // doubles for every retry
};

struct TRpcResult {
  enum class TStatus {
    Value,     // Value holds the answer
    Fault,     // the server answered with a fault (FaultCode, Message)
    Http,      // an HTTP status other than 200 (HttpStatus, Message)
    Transport, // no answer (Message)
    Malformed, // an answer that is no XML-RPC (Message)
  };
  TStatus Status = TStatus::Transport;
  TRpcValue Value;
  int FaultCode = 0;
  long HttpStatus = 0;
  std::string Message;
};

// What the transport needs to know of one call beyond its method.
struct TRpcCallHints {
  // Bytes of a file the answer carries (base64); the answer may be that much
  // larger than the usual bound.
  std::size_t Payload = 0;
  // For a write: asked after an answer was lost, before the write is sent
  // again; true when the wiki holds what was sent, and Landed is then the result.
  std::function<bool()> Arrived;
  TRpcValue Landed;
};

class TRpcClient {
public:
  explicit TRpcClient(TRpcClientOptions options);
  ~TRpcClient();
  TRpcClient(const TRpcClient&) = delete;
  TRpcClient& operator=(const TRpcClient&) = delete;

  // Sends one call; retries with growing pauses on 5xx answers and on
  // connections that fail or drop. Once a call has run out of retries on a
  // dead connection, or has timed out, later calls fail at once instead of
  // waiting again.
  TRpcResult Call(std::string_view method, const std::vector<TRpcValue>& params,
                  const TRpcCallHints& hints = {});

private:
  struct TShared;
  TRpcResult CallOnce(void* handle, const std::string& body, std::size_t payload);
  void* Acquire();
  void Release(void* handle);

  TRpcClientOptions Options;
  std::unique_ptr<TShared> Shared;
  std::atomic<bool> Gone{false};
};

} // namespace tamsel::cli
