// SPDX-License-Identifier: GPL-2.0-or-later
// Pages and media into a running DokuWiki, through its XML-RPC API, as the
// wiki's own editor would save them: with a change summary, a revision, the
// change log and the search index.
#pragma once

#include "Cli_SiteWriter.h"
#include "Cli_XmlRpc.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tamsel::cli {

struct TWikiOptions {
  std::string Url; // the wiki's base address, or its xmlrpc.php
  std::string User;
  std::string Password;
  std::string Summary = "Imported with tamsel";
  bool DryRun = false;
  bool Insecure = false;
  std::string CaCert; // PEM certificates trusted besides the system's
  long TimeoutSeconds = 60;
  unsigned Attempts = 4;
};

// "https://wiki.example.org/" gives "https://wiki.example.org/lib/exe/xmlrpc.php";
// an address that already names xmlrpc.php stays as it is. Empty for anything
// that is no http(s) address.
std::string XmlRpcEndpoint(const std::string& url);

// The password for user: TAMSEL_WIKI_PASSWORD, or else asked for without
// echo when standard input is a terminal. False with error otherwise.
bool ObtainPassword(const std::string& user, std::string& password, std::string& error);

class TWikiWriter : public TSiteWriter {
public:
  // force: pages and media files whose content differs are replaced.
  TWikiWriter(TWikiOptions options, bool force);

  // Checks that the API answers, logs in and checks that the user may use
  // the API. Nothing is written before this succeeds. error says what the
  // user has to change.
  bool Connect(std::string& error);

  TWriteResult WritePage(std::string_view id, std::string_view text, std::string& error) override;
  TWriteResult WriteMedia(std::string_view id, const TSourceFile& source,
                          std::string& error) override;

  // Before the first write: the user's rights in every namespace the run
  // writes into (edit for pages, upload for media). False with error naming
  // the first right missing.
  bool Prepare(const std::vector<std::string>& pages, const std::vector<std::string>& media,
               std::string& error) override;
  bool NewNamespacesOneAtATime() const override { return true; }

  // The version the wiki reports, after Connect.
  const std::string& WikiVersion() const { return Version; }
  // The remote API's version, and whether the wiki speaks the core.* methods.
  std::int64_t ApiVersion() const { return Api; }
  bool CoreApi() const { return Api >= kFirstCoreApi; }
  // The remote API version from which the core.* methods exist (DokuWiki 2024-02-06).
  static constexpr std::int64_t kFirstCoreApi = 12;

  // Receives the lines of a dry run ("create page :a:b"); called from several
  // threads, one line at a time.
  std::function<void(const std::string&)> Listing;
  // Receives warnings before the first write (from Prepare, one thread).
  std::function<void(const std::string&)> Warn;

private:
  TRpcResult Call(std::string_view method, std::vector<TRpcValue> params,
                  const TRpcCallHints& hints = {});
  // After a write's answer was lost: whether the wiki holds the page's text
  // or the file's bytes (then the write is not sent again).
  TRpcCallHints ReadBackPage(const std::string& id, std::string_view text);
  TRpcCallHints ReadBackMedia(const std::string& id, const std::string& bytes);
  // What reading a media file back may carry (base64 text on the core API),
  // and whether what it carried is these bytes.
  TRpcCallHints MediaPayload(const std::string& bytes) const;
  bool SameMedia(const TRpcValue& answer, const std::string& bytes) const;
  bool Login(std::string& error);
  // Why a write was refused, when the wiki did not say.
  std::string ExplainPageRefusal(const std::string& id, const TRpcResult& result);
  std::string Explain(const TRpcResult& result) const;
  // The legacy method's name on wikis before 2024-02-06, the core one after.
  std::string_view Method(std::string_view legacy, std::string_view core) const {
    return CoreApi() ? core : legacy;
  }
  // The user's permission level (AUTH_*) for a page or media id; -1 when the
  // wiki would not tell (error says why).
  std::int64_t Permission(const std::string& id, std::string& error);
  // Why an upload into namespace ns was refused, when the wiki did not say.
  std::string ExplainMediaRefusal(const std::string& ns, bool replace);
  void List(const std::string& line);

  TWikiOptions Options;
  bool Force;
  std::unique_ptr<TRpcClient> Client;
  std::string Version;
  std::int64_t Api = 0;
  std::mutex ListingLock;
  std::mutex LoginLock;
};

// Everything before the first write: the password, a warning for a connection
// that shows it to others, the login. say receives the messages (the warnings,
// and on failure the one reason); a dry run's listing goes to standard output.
// Null when nothing may be written.
std::unique_ptr<TWikiWriter> OpenWikiWriter(TWikiOptions options, bool force, bool verbose,
                                            const std::function<void(const std::string&)>& say);

} // namespace tamsel::cli
