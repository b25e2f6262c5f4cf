// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Wiki.h"
#include "Cli_DokuId.h"
#include "Cli_Files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <map>
#include <set>

#include <unistd.h>

namespace tamsel::cli {

namespace {

using TStatus = TRpcResult::TStatus;

// DokuWiki's fault codes (inc/Remote/ApiCore.php, IXR).
constexpr int kParseError = -32700;
constexpr int kServerNotEnabled = -32605;
constexpr int kMethodMissing = -32601; // IXR: requested method does not exist
constexpr int kServerError = -32603;   // DokuWiki's own "Method does not exist", among others
constexpr int kPageMissing = 121;
constexpr int kMediaMissing = 221; // also 2024 and later's legacy wiki.getAttachmentInfo
constexpr int kForbidden = -32604; // 2024 and later: a permission refused inside a call
constexpr int kPageLocked = 133;
constexpr int kWordblock = 134;
constexpr int kNoEditRight = 112;
constexpr int kNoReadRight = 111;
constexpr int kAuthEdit = 2;    // AUTH_EDIT
constexpr int kAuthUpload = 8;  // AUTH_UPLOAD
constexpr int kAuthDelete = 16; // AUTH_DELETE

std::string Bare(std::string_view id) {
  while (!id.empty() && id.front() == ':')
    id.remove_prefix(1);
  return std::string(id);
}

bool Blank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  });
}

bool IsStruct(const TRpcResult& r) {
  return r.Status == TStatus::Value && r.Value.Kind == TRpcValue::TKind::Struct;
}

// DokuWiki 2022 and older turn a refusal inside a call into an empty struct
// (with HTTP 200, or 401/403 for missing rights) instead of a fault.
bool SilentRefusal(const TRpcResult& r) {
  return IsStruct(r) && r.Value.Members.empty();
}

std::int64_t IntMember(const TRpcValue& v, std::string_view name) {
  const TRpcValue* m = v.Member(name);
  return m && m->Kind == TRpcValue::TKind::Int ? m->Int : 0;
}

// http:// to another machine shows the password to everyone in between.
bool IsPlainHttpElsewhere(const std::string& url) {
  if (url.rfind("http://", 0) != 0) return false;
  const std::string rest = url.substr(7);
  const std::string host = rest.substr(0, rest.find_first_of("/?#"));
  for (const char* local : {"localhost", "127.0.0.1", "[::1]"})
    if (host == local || host.rfind(std::string(local) + ":", 0) == 0) return false;
  return true;
}

// The core.* media calls carry files as base64 text, not as XML-RPC base64.
std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0})
      out += kDigits[(v >> shift) & 63];
  }
  if (const std::size_t rest = bytes.size() - i) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string WithoutSpace(std::string text) {
  std::erase_if(text, [](char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; });
  return text;
}

bool IsInt(const TRpcResult& r) {
  return r.Status == TStatus::Value && r.Value.Kind == TRpcValue::TKind::Int;
}

// 2024 and later refuse a missing right inside a call with HTTP 403 and a
// fault; older releases with 403 alone.
bool Forbidden(const TRpcResult& r) {
  return (r.Status == TStatus::Http && r.HttpStatus == 403) ||
         (r.Status == TStatus::Fault && r.FaultCode == kForbidden);
}

// The namespace of an id with its colon ("a:b:" for "a:b:c"), empty at the root.
std::string NamespaceOf(std::string_view id) {
  const std::size_t colon = id.rfind(':');
  return colon == std::string_view::npos ? std::string() : std::string(id.substr(0, colon + 1));
}

bool Contains(const TRpcValue* list, const std::string& id) {
  if (!list) return false;
  return std::any_of(list->Items.begin(), list->Items.end(),
                     [&](const TRpcValue& item) { return item.Text == id; });
}

} // namespace

std::string XmlRpcEndpoint(const std::string& url) {
  const bool web = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
  if (!web || url.find_first_of(" \t\r\n") != std::string::npos) return "";
  std::string base = url;
  if (const auto cut = base.find_first_of("?#"); cut != std::string::npos) base.resize(cut);
  if (base.size() >= 10 && base.compare(base.size() - 10, 10, "xmlrpc.php") == 0) return base;
  // A start page address ("…/doku.php") names the wiki's folder as well.
  if (base.size() >= 8 && base.compare(base.size() - 8, 8, "doku.php") == 0)
    base.resize(base.size() - 8);
  if (base.empty() || base.back() != '/') base += '/';
  // "https://host" has no slash after the host yet; "https://host/" has.
  return base + "lib/exe/xmlrpc.php";
}

bool ObtainPassword(const std::string& user, std::string& password, std::string& error) {
  if (const char* given = std::getenv("TAMSEL_WIKI_PASSWORD")) {
    password = given;
    return true;
  }
  if (!isatty(STDIN_FILENO)) {
    error = "no password for user '" + user +
            "': set TAMSEL_WIKI_PASSWORD, or run on a terminal to be asked";
    return false;
  }
  // Echo goes off before the prompt shows, so that nothing typed early is
  // shown, and comes back on also when a signal ends the program meanwhile.
  bool read = false;
  {
    const TEchoOff quiet(STDIN_FILENO);
    std::fprintf(stderr, "Password for %s: ", user.c_str());
    std::fflush(stderr);
    read = static_cast<bool>(std::getline(std::cin, password));
  }
  if (!read) {
    error = "no password given";
    return false;
  }
  return true;
}

TWikiWriter::TWikiWriter(TWikiOptions options, bool force)
    : Options(std::move(options)), Force(force) {
  TRpcClientOptions client;
  client.Endpoint = XmlRpcEndpoint(Options.Url);
  client.Insecure = Options.Insecure;
  client.CaFile = Options.CaCert;
  client.StallSeconds = Options.TimeoutSeconds;
  client.ConnectSeconds = std::min(Options.TimeoutSeconds, 20L);
  client.Attempts = Options.Attempts;
  Client = std::make_unique<TRpcClient>(std::move(client));
}

void TWikiWriter::List(const std::string& line) {
  if (!Listing) return;
  std::lock_guard guard(ListingLock);
  Listing(line);
}

TRpcResult TWikiWriter::Call(std::string_view method, std::vector<TRpcValue> params,
                             const TRpcCallHints& hints) {
  TRpcResult result = Client->Call(method, params, hints);
  // A session the wiki has forgotten (restarted, or its sessions cleaned):
  // log in again once, then repeat the call.
  if (result.Status == TStatus::Http && result.HttpStatus == 401 && !method.ends_with(".login") &&
      !Version.empty()) {
    std::string error;
    if (Login(error)) result = Client->Call(method, params, hints);
  }
  return result;
}

TRpcCallHints TWikiWriter::MediaPayload(const std::string& bytes) const {
  TRpcCallHints payload;
  payload.Payload = CoreApi() ? (bytes.size() + 2) / 3 * 4 : bytes.size();
  return payload;
}

bool TWikiWriter::SameMedia(const TRpcValue& answer, const std::string& bytes) const {
  // The core method answers with base64 text, the legacy one with bytes.
  if (CoreApi() && answer.Kind == TRpcValue::TKind::String)
    return WithoutSpace(answer.Text) == Base64(bytes);
  return answer.Text == bytes;
}

TRpcCallHints TWikiWriter::ReadBackPage(const std::string& id, std::string_view text) {
  TRpcCallHints hints;
  hints.Arrived = [this, id, text] {
    TRpcCallHints payload;
    payload.Payload = text.size();
    const TRpcResult current =
        Call(Method("wiki.getPage", "core.getPage"), {TRpcValue::String(id)}, payload);
    return current.Status == TStatus::Value && current.Value.Kind == TRpcValue::TKind::String &&
           current.Value.Text == text;
  };
  hints.Landed = TRpcValue::Boolean(true);
  return hints;
}

TRpcCallHints TWikiWriter::ReadBackMedia(const std::string& id, const std::string& bytes) {
  TRpcCallHints hints;
  hints.Arrived = [this, id, &bytes] {
    const TRpcResult info =
        Call(Method("wiki.getAttachmentInfo", "core.getMediaInfo"), {TRpcValue::String(id)});
    if (!IsStruct(info) || IntMember(info.Value, "size") != static_cast<std::int64_t>(bytes.size()))
      return false;
    const TRpcResult current = Call(Method("wiki.getAttachment", "core.getMedia"),
                                    {TRpcValue::String(id)}, MediaPayload(bytes));
    return current.Status == TStatus::Value && SameMedia(current.Value, bytes);
  };
  // What each API's upload answers on success.
  hints.Landed = CoreApi() ? TRpcValue::Boolean(true) : TRpcValue::String(id);
  return hints;
}

std::string TWikiWriter::Explain(const TRpcResult& r) const {
  const std::string endpoint = XmlRpcEndpoint(Options.Url);
  switch (r.Status) {
  case TStatus::Value:
    return "the wiki answered with something unexpected";
  case TStatus::Transport:
    if (r.Message.rfind("not sent", 0) == 0) return r.Message;
    return "cannot reach the wiki at " + endpoint + ": " + r.Message;
  case TStatus::Malformed:
    return endpoint + " gave " + r.Message + "; is this a DokuWiki's address?";
  case TStatus::Http:
    switch (r.HttpStatus) {
    case 401:
      return "the wiki refused: user '" + Options.User +
             "' is not logged in or not allowed to use its remote API (" + r.Message + ")";
    case 403:
      return "the wiki refused: user '" + Options.User +
             "' lacks the permission in the wiki's access control lists (" + r.Message + ")";
    case 404:
      return "no DokuWiki remote API at " + endpoint +
             " (HTTP 404); give the wiki's base address, e.g. https://wiki.example.org/";
    case 413:
      return r.Message; // names the web server's limit to raise
    default:
      return "the wiki answered " + r.Message;
    }
  case TStatus::Fault:
    if (r.FaultCode == kParseError)
      return "the wiki could not read the request: most likely it is larger than the server "
             "accepts (PHP post_max_size) (" +
             r.Message + ")";
    if (r.FaultCode == kServerNotEnabled || r.Message.find("not enabled") != std::string::npos)
      return "the wiki's remote API is switched off; an administrator must turn on 'remote' "
             "and name this user (or a group of it) in 'remoteuser' (" +
             r.Message + ")";
    if (r.FaultCode == kPageLocked)
      return "the page is locked: someone is editing it in the wiki; try again later";
    if (r.FaultCode == kWordblock)
      return "the wiki refused the text: it holds a word of the wiki's spam block list";
    if (r.FaultCode == kNoEditRight || r.FaultCode == kNoReadRight)
      return "user '" + Options.User + "' lacks the permission in the wiki's access control lists";
    return "the wiki refused: " + r.Message + " (fault " + std::to_string(r.FaultCode) + ")";
  }
  return r.Message;
}

bool TWikiWriter::Login(std::string& error) {
  std::lock_guard guard(LoginLock);
  const TRpcResult login =
      Client->Call(Method("dokuwiki.login", "core.login"),
                   {TRpcValue::String(Options.User), TRpcValue::String(Options.Password)});
  if (login.Status != TStatus::Value) {
    error = Explain(login);
    return false;
  }
  if (!login.Value.IsTrue()) {
    error = "the wiki refused the login of user '" + Options.User +
            "': wrong user name or password (or the wiki has no logins: access control off)";
    return false;
  }
  return true;
}

bool TWikiWriter::Connect(std::string& error) {
  const std::string endpoint = XmlRpcEndpoint(Options.Url);
  if (endpoint.empty()) {
    error = "--wiki takes the wiki's http:// or https:// address, not '" + Options.Url + "'";
    return false;
  }
  if (!IsValidUtf8(Options.Summary) || !IsXmlText(Options.Summary)) {
    error = "--summary holds characters that cannot be sent";
    return false;
  }
  // The API version needs no login: it tells whether the API is there at all,
  // and which methods it has. Every release since 2012 answers the legacy
  // name (from 2024 on with the version of the core.* methods); one that has
  // dropped it answers the current one.
  TRpcResult api = Client->Call("dokuwiki.getXMLRPCAPIVersion", {});
  const bool missing =
      api.Status == TStatus::Fault &&
      (api.FaultCode == kMethodMissing ||
       (api.FaultCode == kServerError && api.Message.find("not exist") != std::string::npos));
  if (missing) api = Client->Call("core.getAPIVersion", {});
  if (api.Status != TStatus::Value) {
    error = Explain(api);
    return false;
  }
  Api = IsInt(api) ? api.Value.Int : 0;
  if (!IsValidUtf8(Options.User) || !IsXmlText(Options.User) || !IsValidUtf8(Options.Password) ||
      !IsXmlText(Options.Password)) {
    error = "the user name or password holds characters that cannot be sent";
    return false;
  }
  if (!Login(error)) return false;
  const TRpcResult version = Client->Call(Method("dokuwiki.getVersion", "core.getWikiVersion"), {});
  if ((version.Status == TStatus::Http && version.HttpStatus == 401) || Forbidden(version)) {
    error = "user '" + Options.User +
            "' may not use the wiki's remote API; the wiki's 'remoteuser' setting must name "
            "the user or one of its groups";
    return false;
  }
  if (version.Status != TStatus::Value || version.Value.Kind != TRpcValue::TKind::String) {
    error = Explain(version);
    return false;
  }
  Version = version.Value.Text;
  return true;
}

std::string TWikiWriter::ExplainPageRefusal(const std::string& id, const TRpcResult& result) {
  if (!SilentRefusal(result)) {
    if (Forbidden(result))
      return "user '" + Options.User + "' may not edit this page (the wiki's access control lists)";
    return Explain(result);
  }
  // The wiki did not say why; ask it whether someone holds the page's lock.
  const auto ids = [&](bool lock) {
    TRpcValue list;
    list.Kind = TRpcValue::TKind::Array;
    list.Items.push_back(TRpcValue::String(id));
    TRpcValue none;
    none.Kind = TRpcValue::TKind::Array;
    return TRpcValue::Struct({{"lock", lock ? list : none}, {"unlock", lock ? none : list}});
  };
  if (CoreApi()) // the core methods say why; an empty answer is none of theirs
    return Explain(result);
  const TRpcResult probe = Call("dokuwiki.setLocks", {ids(true)});
  if (IsStruct(probe) && Contains(probe.Value.Member("lockfail"), id))
    return "the page is locked: someone is editing it in the wiki; try again later";
  if (IsStruct(probe) && Contains(probe.Value.Member("locked"), id))
    Call("dokuwiki.setLocks", {ids(false)});
  return "the wiki refused the page without saying why (a word of its spam block list, or a "
         "plugin)";
}

TWriteResult TWikiWriter::WritePage(std::string_view rawId, std::string_view text,
                                    std::string& error) {
  const std::string id = Bare(rawId);
  if (Blank(text)) {
    // DokuWiki deletes a page saved with an empty text.
    error = "converts to an empty page, which the wiki would take for deleting it; not sent";
    return TWriteResult::Failed;
  }
  if (!IsValidUtf8(text) || !IsXmlText(text)) {
    error = "holds control characters that XML-RPC cannot carry; not sent";
    return TWriteResult::Failed;
  }
  const TRpcResult info =
      Call(Method("wiki.getPageInfo", "core.getPageInfo"), {TRpcValue::String(id)});
  bool exists = false;
  if (IsStruct(info)) {
    exists = info.Value.Member(CoreApi() ? "id" : "name") != nullptr;
  } else if (!(info.Status == TStatus::Fault && info.FaultCode == kPageMissing)) {
    error = Forbidden(info) ? "user '" + Options.User +
                                  "' may not read this page (the wiki's access control "
                                  "lists)"
                            : Explain(info);
    return TWriteResult::Failed;
  }
  if (exists) {
    // The page in the wiki is as large as this text, or differs anyway.
    TRpcCallHints payload;
    payload.Payload = text.size();
    const TRpcResult current =
        Call(Method("wiki.getPage", "core.getPage"), {TRpcValue::String(id)}, payload);
    if (current.Status != TStatus::Value || current.Value.Kind != TRpcValue::TKind::String) {
      error = Explain(current);
      return TWriteResult::Failed;
    }
    if (current.Value.Text == text) return TWriteResult::Unchanged;
    if (!Force) {
      error = "exists in the wiki with other content; not overwritten (--force overwrites)";
      return TWriteResult::Exists;
    }
  }
  if (Options.DryRun) {
    List((exists ? "replace page :" : "create page :") + id);
    return TWriteResult::Written;
  }
  const TRpcResult put = CoreApi()
                             ? Call("core.savePage",
                                    {TRpcValue::String(id), TRpcValue::String(std::string(text)),
                                     TRpcValue::String(Options.Summary), TRpcValue::Boolean(false)},
                                    ReadBackPage(id, text))
                             : Call("wiki.putPage",
                                    {TRpcValue::String(id), TRpcValue::String(std::string(text)),
                                     TRpcValue::Struct({{"sum", TRpcValue::String(Options.Summary)},
                                                        {"minor", TRpcValue::Boolean(false)}})},
                                    ReadBackPage(id, text));
  if (put.Status == TStatus::Value && put.Value.IsTrue()) return TWriteResult::Written;
  error = ExplainPageRefusal(id, put);
  return TWriteResult::Failed;
}

TWriteResult TWikiWriter::WriteMedia(std::string_view rawId, const TSourceFile& source,
                                     std::string& error) {
  const std::string id = Bare(rawId);
  std::string bytes;
  if (!source.Read(bytes, error, kMaxInputBytes)) {
    error = "cannot read: " + error;
    return TWriteResult::Failed;
  }
  // 1: the wiki holds these bytes, 0: other bytes or none, -1: cannot tell.
  bool exists = false;
  const auto same = [&]() {
    const TRpcResult info =
        Call(Method("wiki.getAttachmentInfo", "core.getMediaInfo"), {TRpcValue::String(id)});
    // A missing file: 2022 and older answer with size 0, later ones with a fault.
    if (info.Status == TStatus::Fault && info.FaultCode == kMediaMissing) {
      exists = false;
      return 0;
    }
    if (!IsStruct(info)) {
      error = Forbidden(info) ? "user '" + Options.User +
                                    "' may not read this media file (the wiki's access control "
                                    "lists)"
                              : Explain(info);
      return -1;
    }
    const std::int64_t size = IntMember(info.Value, "size");
    exists = size > 0;
    if (!exists || static_cast<std::uint64_t>(size) != bytes.size()) return 0;
    const TRpcResult current = Call(Method("wiki.getAttachment", "core.getMedia"),
                                    {TRpcValue::String(id)}, MediaPayload(bytes));
    if (current.Status != TStatus::Value) {
      error = Explain(current);
      return -1;
    }
    return SameMedia(current.Value, bytes) ? 1 : 0;
  };
  switch (same()) {
  case -1:
    return TWriteResult::Failed;
  case 1:
    return TWriteResult::Unchanged;
  default:
    break;
  }
  if (exists && !Force) {
    error = "exists in the wiki with other content; not overwritten (--force overwrites)";
    return TWriteResult::Exists;
  }
  if (Options.DryRun) {
    List((exists ? "replace media :" : "create media :") + id);
    return TWriteResult::Written;
  }
  const auto upload = [&] {
    return CoreApi() ? Call("core.saveMedia",
                            {TRpcValue::String(id), TRpcValue::String(Base64(bytes)),
                             TRpcValue::Boolean(exists)},
                            ReadBackMedia(id, bytes))
                     : Call("wiki.putAttachment",
                            {TRpcValue::String(id), TRpcValue::Bytes(bytes),
                             TRpcValue::Struct({{"ow", TRpcValue::Boolean(exists)}})},
                            ReadBackMedia(id, bytes));
  };
  const auto landed = [&](const TRpcResult& r) {
    return r.Status == TStatus::Value &&
           (r.Value.Kind == TRpcValue::TKind::String || (CoreApi() && r.Value.IsTrue()));
  };
  TRpcResult put = upload();
  if (landed(put)) return TWriteResult::Written;
  // DokuWiki makes a new namespace's folders without a lock: of two uploads
  // that make the same new parent at once, one is refused. Once more, when
  // the file is not there after all, before the refusal is believed.
  if (!Forbidden(put) && (put.Status == TStatus::Fault || SilentRefusal(put))) {
    switch (same()) {
    case 1:
      return TWriteResult::Written;
    case 0:
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      put = upload();
      if (landed(put)) return TWriteResult::Written;
      break;
    default:
      return TWriteResult::Failed;
    }
  }
  if (Forbidden(put)) {
    error = ExplainMediaRefusal(NamespaceOf(id), exists);
    return TWriteResult::Failed;
  }
  if (put.Status == TStatus::Fault) {
    // libcurl sends a request once more by itself when a kept connection
    // closed without an answer, and an upload repeated after a dropped
    // answer finds its own first copy there.
    if (same() == 1) return TWriteResult::Written;
    const std::string why = ExplainMediaRefusal(NamespaceOf(id), exists);
    error = why.rfind("user '", 0) == 0 ? why : "the wiki refused the file: " + put.Message;
    return TWriteResult::Failed;
  }
  if (!SilentRefusal(put)) {
    error = Explain(put);
    return TWriteResult::Failed;
  }
  // Refused without a reason. An upload repeated after a dropped answer
  // finds its own first copy there; anything else is a refusal to explain.
  if (same() == 1) return TWriteResult::Written;
  error = ExplainMediaRefusal(NamespaceOf(id), exists);
  return TWriteResult::Failed;
}

std::int64_t TWikiWriter::Permission(const std::string& id, std::string& error) {
  const TRpcResult acl = Call(Method("wiki.aclCheck", "core.aclCheck"), {TRpcValue::String(id)});
  if (IsInt(acl)) return acl.Value.Int;
  error = Explain(acl);
  return -1;
}

// A made-up name in a namespace stands for the namespace: DokuWiki's ACLs
// apply a namespace's rules to every name in it that has none of its own.
static std::string Probe(const std::string& ns) {
  return ns + "tamsel_rights_check";
}

std::string TWikiWriter::ExplainMediaRefusal(const std::string& ns, bool replace) {
  std::string error;
  const std::int64_t level = Permission(Probe(ns), error);
  const std::string where = "namespace :" + (ns.empty() ? std::string() : ns);
  if (level >= 0 && level < kAuthUpload)
    return "user '" + Options.User + "' may not upload into " + where +
           " (the wiki's access control lists)";
  if (level >= 0 && replace && level < kAuthDelete)
    return "user '" + Options.User + "' may not replace media files in " + where +
           ": the wiki keeps no old revisions of media files, so replacing one needs the "
           "delete permission (the wiki's access control lists)";
  return "the wiki refused the file: its extension is not one the wiki allows (mime.conf), "
         "or its content does not match the extension";
}

bool TWikiWriter::Prepare(const std::vector<std::string>& pages,
                          const std::vector<std::string>& media, std::string& error) {
  std::set<std::string> pageSpaces, mediaSpaces;
  for (const std::string& id : pages)
    pageSpaces.insert(NamespaceOf(Bare(id)));
  for (const std::string& id : media)
    mediaSpaces.insert(NamespaceOf(Bare(id)));
  const auto refuse = [&](const std::string& what) {
    error = "user '" + Options.User + "' may not " + what +
            " (the wiki's access control lists); nothing was written";
    return false;
  };
  // Pages and media of a folder share its namespace: one question for both.
  std::map<std::string, std::int64_t> levels;
  const auto level = [&](const std::string& ns) {
    const auto known = levels.find(ns);
    return known != levels.end() ? known->second : levels[ns] = Permission(Probe(ns), error);
  };
  for (const std::string& ns : pageSpaces) {
    const std::int64_t granted = level(ns);
    if (granted < 0) return false;
    if (granted < kAuthEdit) return refuse("edit pages in namespace :" + ns);
  }
  for (const std::string& ns : mediaSpaces) {
    const std::int64_t granted = level(ns);
    if (granted < 0) return false;
    if (granted < kAuthUpload) return refuse("upload media files into namespace :" + ns);
    // Replacing a file takes Delete where the wiki keeps no old media
    // revisions ('mediarevisions' off), which the API does not tell.
    if (Force && granted < kAuthDelete && Warn)
      Warn("warning: user '" + Options.User + "' may not delete media files in namespace :" + ns +
           "; a wiki that keeps no old revisions of media files refuses to replace them there");
  }
  return true;
}

std::unique_ptr<TWikiWriter> OpenWikiWriter(TWikiOptions options, bool force, bool verbose,
                                            const std::function<void(const std::string&)>& say) {
  std::string error;
  if (!ObtainPassword(options.User, options.Password, error)) {
    say(error);
    return nullptr;
  }
  if (options.Insecure && options.Url.rfind("https://", 0) == 0)
    say("warning: --insecure: the wiki's certificate is not checked; whoever sits in between "
        "can read the password and change what is written");
  if (IsPlainHttpElsewhere(options.Url))
    say("warning: the password travels unencrypted over http:// ; prefer https://");
  const std::string user = options.User;
  const bool dryRun = options.DryRun;
  auto writer = std::make_unique<TWikiWriter>(std::move(options), force);
  if (!writer->Connect(error)) {
    say(error);
    return nullptr;
  }
  if (verbose) say("logged in as " + user + ", " + writer->WikiVersion());
  writer->Warn = say;
  if (dryRun)
    writer->Listing = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
  return writer;
}

} // namespace tamsel::cli
