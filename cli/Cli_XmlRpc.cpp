// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_XmlRpc.h"
#include "Cli_DokuId.h"
#include "Cli_Transport.h"
#include "Tamsel_Ascii.h"

#include "Tamsel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <mutex>
#include <thread>

#include <curl/curl.h>
#include <xmlrpc-c/base.h>

namespace tamsel::cli {

namespace {

void InitLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // Every answer is bounded before it gets here (AnswerLimit), by what its
    // call may carry; the parser's own limit would cap media files instead.
    xmlrpc_limit_set(XMLRPC_XML_SIZE_LIMIT_ID, std::numeric_limits<std::size_t>::max() / 4);
  });
}

struct TEnv {
  xmlrpc_env Env;
  TEnv() { xmlrpc_env_init(&Env); }
  ~TEnv() { xmlrpc_env_clean(&Env); }
  TEnv(const TEnv&) = delete;
  TEnv& operator=(const TEnv&) = delete;
  bool Failed() const { return Env.fault_occurred != 0; }
  std::string Why() const { return Env.fault_string ? Env.fault_string : "unknown error"; }
};

struct TValueRef {
  xmlrpc_value* Value = nullptr;
  explicit TValueRef(xmlrpc_value* v = nullptr) : Value(v) {}
  ~TValueRef() {
    if (Value) xmlrpc_DECREF(Value);
  }
  TValueRef(const TValueRef&) = delete;
  TValueRef& operator=(const TValueRef&) = delete;
};

xmlrpc_value* Build(TEnv& env, const TRpcValue& v) {
  using K = TRpcValue::TKind;
  switch (v.Kind) {
  case K::Nil:
    return xmlrpc_nil_new(&env.Env);
  case K::Bool:
    return xmlrpc_bool_new(&env.Env, v.Bool);
  case K::Int:
    if (v.Int >= INT32_MIN && v.Int <= INT32_MAX)
      return xmlrpc_int_new(&env.Env, static_cast<int>(v.Int));
    return xmlrpc_i8_new(&env.Env, v.Int);
  case K::Double:
    return xmlrpc_double_new(&env.Env, v.Double);
  case K::String:
    return xmlrpc_string_new_lp(&env.Env, v.Text.size(), v.Text.data());
  case K::Base64:
    return xmlrpc_base64_new(&env.Env, v.Text.size(),
                             reinterpret_cast<const unsigned char*>(v.Text.data()));
  case K::DateTime:
    return xmlrpc_datetime_new_str(&env.Env, v.Text.c_str());
  case K::Array: {
    xmlrpc_value* array = xmlrpc_array_new(&env.Env);
    for (const TRpcValue& item : v.Items) {
      if (env.Failed()) break;
      TValueRef built(Build(env, item));
      if (!env.Failed()) xmlrpc_array_append_item(&env.Env, array, built.Value);
    }
    return array;
  }
  case K::Struct: {
    xmlrpc_value* object = xmlrpc_struct_new(&env.Env);
    for (const auto& [name, member] : v.Members) {
      if (env.Failed()) break;
      TValueRef built(Build(env, member));
      if (!env.Failed()) xmlrpc_struct_set_value(&env.Env, object, name.c_str(), built.Value);
    }
    return object;
  }
  }
  return nullptr;
}

// depth guards against a hostile answer nested deeper than the stack allows
// (the parser has a limit of its own; this one does not depend on it).
bool Read(TEnv& env, xmlrpc_value* in, TRpcValue& out, int depth) {
  using K = TRpcValue::TKind;
  if (depth > 64) return false;
  switch (xmlrpc_value_type(in)) {
  case XMLRPC_TYPE_INT: {
    int i = 0;
    xmlrpc_read_int(&env.Env, in, &i);
    out.Kind = K::Int;
    out.Int = i;
    break;
  }
  case XMLRPC_TYPE_I8: {
    xmlrpc_int64 i = 0;
    xmlrpc_read_i8(&env.Env, in, &i);
    out.Kind = K::Int;
    out.Int = i;
    break;
  }
  case XMLRPC_TYPE_BOOL: {
    xmlrpc_bool b = 0;
    xmlrpc_read_bool(&env.Env, in, &b);
    out.Kind = K::Bool;
    out.Bool = b != 0;
    break;
  }
  case XMLRPC_TYPE_DOUBLE:
    out.Kind = K::Double;
    xmlrpc_read_double(&env.Env, in, &out.Double);
    break;
  case XMLRPC_TYPE_STRING: {
    std::size_t length = 0;
    const char* text = nullptr;
    xmlrpc_read_string_lp(&env.Env, in, &length, &text);
    if (env.Failed()) return false;
    out.Kind = K::String;
    out.Text.assign(text, length);
    std::free(const_cast<char*>(text));
    break;
  }
  case XMLRPC_TYPE_BASE64: {
    std::size_t length = 0;
    const unsigned char* bytes = nullptr;
    xmlrpc_read_base64(&env.Env, in, &length, &bytes);
    if (env.Failed()) return false;
    out.Kind = K::Base64;
    out.Text.assign(reinterpret_cast<const char*>(bytes), length);
    std::free(const_cast<unsigned char*>(bytes));
    break;
  }
  case XMLRPC_TYPE_DATETIME: {
    const char* text = nullptr;
    xmlrpc_read_datetime_str(&env.Env, in, &text);
    if (env.Failed()) return false;
    out.Kind = K::DateTime;
    out.Text = text;
    std::free(const_cast<char*>(text));
    break;
  }
  case XMLRPC_TYPE_ARRAY: {
    out.Kind = K::Array;
    const int size = xmlrpc_array_size(&env.Env, in);
    for (int i = 0; i < size && !env.Failed(); ++i) {
      xmlrpc_value* item = nullptr;
      xmlrpc_array_read_item(&env.Env, in, static_cast<unsigned>(i), &item);
      if (env.Failed()) return false;
      TValueRef hold(item);
      out.Items.emplace_back();
      if (!Read(env, item, out.Items.back(), depth + 1)) return false;
    }
    break;
  }
  case XMLRPC_TYPE_STRUCT: {
    out.Kind = K::Struct;
    const int size = xmlrpc_struct_size(&env.Env, in);
    for (int i = 0; i < size && !env.Failed(); ++i) {
      xmlrpc_value* key = nullptr;
      xmlrpc_value* member = nullptr;
      xmlrpc_struct_read_member(&env.Env, in, static_cast<unsigned>(i), &key, &member);
      if (env.Failed()) return false;
      TValueRef holdKey(key), holdMember(member);
      TRpcValue name;
      if (!Read(env, key, name, depth + 1)) return false;
      out.Members.emplace_back(std::move(name.Text), TRpcValue{});
      if (!Read(env, member, out.Members.back().second, depth + 1)) return false;
    }
    break;
  }
  default: // nil, and the library's own C pointer type
    out.Kind = K::Nil;
    break;
  }
  return !env.Failed();
}

// DokuWiki writes dates as "2024-01-31T12:00:00+00:00"; libxmlrpc-c knows
// only the forms without an offset and refuses the whole answer otherwise.
// The offset is dropped (the dates only tell whether a file exists); anything
// that is not exactly that form is left for the parser to judge.
std::string NormalizeDates(std::string_view xml) {
  static constexpr std::string_view kOpen = "<dateTime.iso8601>";
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; (at = xml.find(kOpen, from)) != std::string_view::npos;) {
    const std::size_t start = at + kOpen.size();
    const std::size_t end = xml.find('<', start);
    if (end == std::string_view::npos) break;
    std::string_view date = xml.substr(start, end - start);
    out.append(xml.substr(from, start - from));
    from = end;
    const auto digits = [&](std::size_t pos, std::size_t n) {
      for (std::size_t i = 0; i < n; ++i)
        if (pos + i >= date.size() || date[pos + i] < '0' || date[pos + i] > '9') return false;
      return true;
    };
    // YYYY-MM-DDTHH:MM:SS followed by Z or +HH:MM / -HH:MM
    const bool dashed = date.size() >= 19 && digits(0, 4) && date[4] == '-' && digits(5, 2) &&
                        date[7] == '-' && digits(8, 2) && date[10] == 'T' && digits(11, 2) &&
                        date[13] == ':' && digits(14, 2) && date[16] == ':' && digits(17, 2);
    std::string_view zone = dashed ? date.substr(19) : std::string_view();
    const bool offset = zone == "Z" || (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') &&
                                        zone[3] == ':' && digits(20, 2) && digits(23, 2));
    if (dashed && (zone.empty() || offset)) {
      out.append(date.substr(0, 4)).append(date.substr(5, 2)).append(date.substr(8, 2));
      out.append(date.substr(10, 9));
    } else {
      out.append(date);
    }
  }
  out.append(xml.substr(from));
  return out;
}

} // namespace

TRpcValue TRpcValue::String(std::string text) {
  TRpcValue v;
  v.Kind = TKind::String;
  v.Text = std::move(text);
  return v;
}

TRpcValue TRpcValue::Bytes(std::string bytes) {
  TRpcValue v;
  v.Kind = TKind::Base64;
  v.Text = std::move(bytes);
  return v;
}

TRpcValue TRpcValue::Boolean(bool value) {
  TRpcValue v;
  v.Kind = TKind::Bool;
  v.Bool = value;
  return v;
}

TRpcValue TRpcValue::Struct(std::vector<std::pair<std::string, TRpcValue>> members) {
  TRpcValue v;
  v.Kind = TKind::Struct;
  v.Members = std::move(members);
  return v;
}

const TRpcValue* TRpcValue::Member(std::string_view name) const {
  for (const auto& [key, value] : Members)
    if (key == name) return &value;
  return nullptr;
}

bool TRpcValue::IsTrue() const {
  return (Kind == TKind::Bool && Bool) || (Kind == TKind::Int && Int != 0);
}

bool IsXmlText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = DecodeUtf8(text, i);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    if (c == 0xFFFE || c == 0xFFFF) return false;
  }
  return true;
}

std::string EncodeCall(std::string_view method, const std::vector<TRpcValue>& params) {
  InitLibraries();
  TEnv env;
  TRpcValue array;
  array.Kind = TRpcValue::TKind::Array;
  array.Items = params;
  TValueRef built(Build(env, array));
  xmlrpc_mem_block* block = XMLRPC_MEMBLOCK_NEW(char, &env.Env, 0);
  if (env.Failed()) throw std::runtime_error("cannot encode the call: " + env.Why());
  const std::string name(method);
  xmlrpc_serialize_call2(&env.Env, block, name.c_str(), built.Value, xmlrpc_dialect_i8);
  std::string out;
  if (!env.Failed())
    out.assign(XMLRPC_MEMBLOCK_CONTENTS(char, block), XMLRPC_MEMBLOCK_SIZE(char, block));
  XMLRPC_MEMBLOCK_FREE(char, block);
  if (env.Failed()) throw std::runtime_error("cannot encode the call: " + env.Why());
  return out;
}

TRpcResponse DecodeResponse(std::string_view xml) {
  InitLibraries();
  TRpcResponse response;
  if (DeclaresEntities(xml)) {
    response.Message = "an answer that declares entities or a document type, which no XML-RPC "
                       "answer does (refused unread)";
    return response;
  }
  const std::string normalized = NormalizeDates(xml);
  TEnv env;
  xmlrpc_value* result = nullptr;
  int faultCode = 0;
  const char* faultString = nullptr;
  xmlrpc_parse_response2(&env.Env, normalized.data(), normalized.size(), &result, &faultCode,
                         &faultString);
  TValueRef hold(result);
  if (env.Failed()) {
    response.Message = env.Why();
    return response;
  }
  if (faultString) {
    response.Status = TRpcResponse::TStatus::Fault;
    response.FaultCode = faultCode;
    response.Message = ServerText(faultString);
    std::free(const_cast<char*>(faultString));
    return response;
  }
  if (!result || !Read(env, result, response.Value, 0)) {
    response.Message = env.Failed() ? env.Why() : "answer nested too deeply";
    return response;
  }
  response.Status = TRpcResponse::TStatus::Value;
  return response;
}

// ----------------------------------------------------------------------------

struct TRpcClient::TShared {
  CURLSH* Share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> Locks;
  std::mutex PoolLock;
  std::vector<CURL*> Pool;
  curl_slist* Headers = nullptr;
  std::string Trust; // PEM bundle, when certificates are added to the system's
  std::string TrustError;
};

namespace {

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  static_cast<std::array<std::mutex, CURL_LOCK_DATA_LAST>*>(user)->at(data).lock();
}

void UnlockShare(CURL*, curl_lock_data data, void* user) {
  static_cast<std::array<std::mutex, CURL_LOCK_DATA_LAST>*>(user)->at(data).unlock();
}

// An answer as it arrives, decompressed, up to what its call may carry.
struct TSink {
  std::string Data;
  std::size_t Limit = 0;
  bool Over = false;
  std::string Server; // the Server header, for messages
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<TSink*>(user);
  const std::size_t n = size * count;
  if (n > sink->Limit - sink->Data.size()) {
    sink->Over = true;
    return 0; // aborts the transfer
  }
  sink->Data.append(data, n);
  return n;
}

std::size_t CollectHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<TSink*>(user);
  const std::string_view line(data, size * count);
  if (line.size() > 7 && (line[0] == 'S' || line[0] == 's') && line.substr(1, 6) == "erver:")
    sink->Server = ServerText(line.substr(7, line.find_first_of("\r\n") - 7), 80);
  return size * count;
}

std::string Mebibytes(std::size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1 << 20));
  std::string out = text;
  if (out.ends_with(".0")) out.resize(out.size() - 2);
  return out + " MiB";
}

// The limit a web server put on a request's size, by the server's name.
std::string BodyLimitHint(const std::string& server) {
  const std::string lower = LowerAscii(server);
  if (lower.find("apache") != std::string::npos)
    return "Apache's LimitRequestBody (in the wiki's site configuration or .htaccess)";
  if (lower.find("nginx") != std::string::npos) return "nginx's client_max_body_size";
  if (lower.find("lighttpd") != std::string::npos) return "lighttpd's server.max-request-size";
  if (lower.find("microsoft-iis") != std::string::npos) return "IIS's maxAllowedContentLength";
  return "the web server's request body limit";
}

bool Retriable(CURLcode code) {
  switch (code) {
  case CURLE_COULDNT_CONNECT:
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR:
  case CURLE_GOT_NOTHING:
  case CURLE_PARTIAL_FILE:
  case CURLE_HTTP2:
  case CURLE_HTTP2_STREAM:
    return true;
  default:
    return false;
  }
}

// The title of an HTML error page, for a message; at most a line.
std::string Gist(const std::string& body) {
  std::string text;
  const auto open = body.find("<title>");
  if (open != std::string::npos) {
    const auto close = body.find("</title>", open);
    text = body.substr(
        open + 7, close == std::string::npos ? 120 : std::min<std::size_t>(close - open - 7, 400));
  } else {
    text = body.substr(0, 120);
  }
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return ServerText(text, 120);
}

} // namespace

TRpcClient::TRpcClient(TRpcClientOptions options)
    : Options(std::move(options)), Shared(std::make_unique<TShared>()) {
  InitLibraries();
  Shared->Share = curl_share_init();
  // Cookies carry the login to every connection of every thread.
  curl_share_setopt(Shared->Share, CURLSHOPT_LOCKFUNC, LockShare);
  curl_share_setopt(Shared->Share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
  curl_share_setopt(Shared->Share, CURLSHOPT_USERDATA, &Shared->Locks);
  curl_share_setopt(Shared->Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  curl_share_setopt(Shared->Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(Shared->Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  Shared->Headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
  // A server that does not know 100-continue would make every large upload
  // wait a second first.
  Shared->Headers = curl_slist_append(Shared->Headers, "Expect:");
  if (!Options.Insecure) {
    // The given certificates replace libcurl's CA bundle but not its CA
    // folder, which it searches by hash as needed: where libcurl has one
    // (Debian's /etc/ssl/certs), that keeps the system's store. Else the
    // system's bundle goes along with them, which costs parsing it for
    // every connection (some 30 ms: DokuWiki closes each after one answer).
    std::string system = "/etc/ssl/certs/ca-certificates.crt";
    if (CURL* probe = curl_easy_init()) {
      // What this libcurl was built to trust (7.84 and later can tell).
      char* built = nullptr;
      if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &built) == CURLE_OK && built) system = built;
      char* folder = nullptr;
      if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &folder) == CURLE_OK && folder && *folder)
        system.clear();
      curl_easy_cleanup(probe);
    }
    TTrust trust = LoadTrust(Options.CaFile, system);
    Shared->Trust = std::move(trust.Bundle);
    Shared->TrustError = std::move(trust.Error);
  }
}

TRpcClient::~TRpcClient() {
  for (CURL* handle : Shared->Pool)
    curl_easy_cleanup(handle);
  curl_share_cleanup(Shared->Share);
  curl_slist_free_all(Shared->Headers);
}

void* TRpcClient::Acquire() {
  {
    std::lock_guard guard(Shared->PoolLock);
    if (!Shared->Pool.empty()) {
      CURL* handle = Shared->Pool.back();
      Shared->Pool.pop_back();
      return handle;
    }
  }
  CURL* handle = curl_easy_init();
  if (!handle) return nullptr;
  static const std::string agent = std::string("tamsel-cli/") + tamsel::kVersion;
  curl_easy_setopt(handle, CURLOPT_URL, Options.Endpoint.c_str());
  curl_easy_setopt(handle, CURLOPT_SHARE, Shared->Share);
  curl_easy_setopt(handle, CURLOPT_COOKIEFILE, ""); // cookie engine on, no file
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, Shared->Headers);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, Options.ConnectSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, Options.StallSeconds);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  // A redirect would turn the POST into a GET, or send the password elsewhere.
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, Options.Insecure ? 0L : 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, Options.Insecure ? 0L : 2L);
  if (!Shared->Trust.empty()) {
    curl_blob blob{Shared->Trust.data(), Shared->Trust.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
  }
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, CollectHeader);
  return handle;
}

void TRpcClient::Release(void* handle) {
  std::lock_guard guard(Shared->PoolLock);
  Shared->Pool.push_back(static_cast<CURL*>(handle));
}

TRpcResult TRpcClient::CallOnce(void* opaque, const std::string& body, std::size_t payload) {
  CURL* handle = static_cast<CURL*>(opaque);
  TSink sink;
  sink.Limit = AnswerLimit(payload);
  const long deadline = RequestDeadline(Options.StallSeconds, body.size() + payload / 3 * 4);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &sink);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, deadline);
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  const auto started = std::chrono::steady_clock::now();
  const CURLcode code = curl_easy_perform(handle);
  const auto took = std::chrono::steady_clock::now() - started;
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, nullptr);

  TRpcResult result;
  if (code != CURLE_OK) {
    result.Status = TRpcResult::TStatus::Transport;
    result.FaultCode = code;
    result.Message = ServerText(error[0] ? error : curl_easy_strerror(code));
    if (sink.Over) {
      result.Message = "the wiki's answer grew past " + Mebibytes(sink.Limit) +
                       ", more than this request can need; not read further";
    } else if (code == CURLE_OPERATION_TIMEDOUT && !sink.Data.empty() &&
               std::string_view(error).find("too slow") == std::string_view::npos &&
               took >= std::chrono::seconds(deadline) - std::chrono::milliseconds(500)) {
      // Something came, but too slowly; a wiki that sent nothing stalled.
      result.Message = "no whole answer within " + std::to_string(deadline) +
                       " s (the wiki sent too slowly; --timeout allows longer)";
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
      result.Message = "no answer, the request stalled for " +
                       std::to_string(Options.StallSeconds) + " s (--timeout allows longer)";
    } else if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE) {
      long verify = 0;
      curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verify);
      result.Message = "the certificate of " + ServerText(HostOf(Options.Endpoint), 100) +
                       " is not trusted: " + CertificateProblem(verify, error) +
                       "; if it comes from your organisation's own CA, give that CA's "
                       "certificate with --cacert FILE (--insecure skips the check)";
    }
    return result;
  }
  const std::string& answer = sink.Data;
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  result.HttpStatus = status;
  if (status != 200) {
    result.Status = TRpcResult::TStatus::Http;
    result.Message = "HTTP " + std::to_string(status);
    if (status >= 300 && status < 400) {
      char* location = nullptr;
      curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location);
      if (location) result.Message += " (redirects to " + ServerText(location, 200) + ")";
    }
    if (status == 413) {
      result.Message = "the request (" + Mebibytes(body.size()) +
                       ") is larger than the wiki's web server accepts (HTTP 413); raise " +
                       BodyLimitHint(sink.Server);
      return result;
    }
    // DokuWiki sends its refusals with 401 or 403 and, in some versions, a fault.
    TRpcResponse decoded = DecodeResponse(answer);
    if (decoded.Status == TRpcResponse::TStatus::Fault) {
      result.FaultCode = decoded.FaultCode;
      result.Message += ": " + decoded.Message;
    }
    return result;
  }
  TRpcResponse decoded = DecodeResponse(answer);
  switch (decoded.Status) {
  case TRpcResponse::TStatus::Value:
    result.Status = TRpcResult::TStatus::Value;
    result.Value = std::move(decoded.Value);
    break;
  case TRpcResponse::TStatus::Fault:
    result.Status = TRpcResult::TStatus::Fault;
    result.FaultCode = decoded.FaultCode;
    result.Message = std::move(decoded.Message);
    break;
  case TRpcResponse::TStatus::Malformed: {
    result.Status = TRpcResult::TStatus::Malformed;
    const std::string gist = Gist(answer);
    result.Message = answer.empty() ? "an empty answer"
                                    : "an answer that is no XML-RPC" +
                                          (gist.empty() ? std::string() : " (\"" + gist + "\")");
    if (decoded.Message.find("declares entities") != std::string::npos)
      result.Message = decoded.Message;
    break;
  }
  }
  return result;
}

namespace {

// A failure after which the wiki may have carried the request out: the
// request went out, but no answer (or a gateway's error) came back.
bool AnswerMayBeLost(const TRpcResult& result) {
  if (result.Status == TRpcResult::TStatus::Http)
    return result.HttpStatus != 503; // an overloaded server refuses before it starts
  return result.Status == TRpcResult::TStatus::Transport &&
         static_cast<CURLcode>(result.FaultCode) != CURLE_COULDNT_CONNECT;
}

} // namespace

TRpcResult TRpcClient::Call(std::string_view method, const std::vector<TRpcValue>& params,
                            const TRpcCallHints& hints) {
  TRpcResult result;
  if (Gone) {
    result.Message = "not sent: the wiki stopped answering earlier";
    return result;
  }
  if (!Shared->TrustError.empty()) {
    result.Message = "not sent: " + Shared->TrustError;
    return result;
  }
  const std::string body = EncodeCall(method, params);
  void* handle = Acquire();
  if (!handle) {
    result.Message = "cannot start an HTTP request";
    return result;
  }
  auto delay = Options.FirstDelay;
  for (unsigned attempt = 1;; ++attempt) {
    result = CallOnce(handle, body, hints.Payload);
    const bool transport = result.Status == TRpcResult::TStatus::Transport &&
                           Retriable(static_cast<CURLcode>(result.FaultCode));
    const bool serverError = result.Status == TRpcResult::TStatus::Http &&
                             result.HttpStatus >= 500 && result.HttpStatus <= 599;
    if (result.Status == TRpcResult::TStatus::Transport &&
        result.FaultCode == CURLE_OPERATION_TIMEDOUT) {
      // Waiting as long again for every retry and every later file would
      // stretch a hung wiki into hours.
      Gone = true;
      break;
    }
    if (!transport && !serverError) break;
    if (hints.Arrived && AnswerMayBeLost(result)) {
      // Sent again, a write the wiki did carry out would be refused ("File
      // already exists") or make a second revision; and reported failed, it
      // would be one that is there. The wiki gets a moment to finish first.
      std::this_thread::sleep_for(delay);
      if (hints.Arrived()) {
        result = TRpcResult{};
        result.Status = TRpcResult::TStatus::Value;
        result.Value = hints.Landed;
        break;
      }
    }
    if (attempt >= Options.Attempts || Gone) {
      if (transport) Gone = true;
      result.Message += " (tried " + std::to_string(attempt) + " times)";
      break;
    }
    std::this_thread::sleep_for(delay);
    delay *= 2;
  }
  if (result.Status == TRpcResult::TStatus::Transport) result.FaultCode = 0;
  Release(handle);
  return result;
}

} // namespace tamsel::cli
