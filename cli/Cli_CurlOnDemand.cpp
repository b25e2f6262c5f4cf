// SPDX-License-Identifier: GPL-2.0-or-later
// libcurl, loaded when the first wiki request is made rather than when the
// program starts. Linked as usual it brings some thirty libraries (TLS,
// Kerberos, LDAP, compression) that the dynamic loader maps and relocates on
// every run: on a small page that start-up cost more than the conversion.
// These definitions stand in for libcurl's own under the same names, so the
// code that speaks HTTP is written against curl.h as usual.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <cstdarg>
#include <cstdio>

#include <dlfcn.h>

namespace {

struct TCurl {
  void* Library = nullptr;
  decltype(&curl_global_init) GlobalInit = nullptr;
  decltype(&curl_easy_init) EasyInit = nullptr;
  decltype(&curl_easy_setopt) EasySetopt = nullptr;
  decltype(&curl_easy_perform) EasyPerform = nullptr;
  decltype(&curl_easy_cleanup) EasyCleanup = nullptr;
  decltype(&curl_easy_getinfo) EasyGetinfo = nullptr;
  decltype(&curl_easy_strerror) EasyStrerror = nullptr;
  decltype(&curl_share_init) ShareInit = nullptr;
  decltype(&curl_share_setopt) ShareSetopt = nullptr;
  decltype(&curl_share_cleanup) ShareCleanup = nullptr;
  decltype(&curl_slist_append) SlistAppend = nullptr;
  decltype(&curl_slist_free_all) SlistFreeAll = nullptr;

  template <typename F> bool Bind(F& slot, const char* name) {
    slot = reinterpret_cast<F>(dlsym(Library, name));
    return slot != nullptr;
  }

  TCurl() {
    Library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!Library) {
      std::fprintf(stderr, "tamsel-cli: cannot load libcurl: %s\n", dlerror());
      return;
    }
    const bool all =
        Bind(GlobalInit, "curl_global_init") && Bind(EasyInit, "curl_easy_init") &&
        Bind(EasySetopt, "curl_easy_setopt") && Bind(EasyPerform, "curl_easy_perform") &&
        Bind(EasyCleanup, "curl_easy_cleanup") && Bind(EasyGetinfo, "curl_easy_getinfo") &&
        Bind(EasyStrerror, "curl_easy_strerror") && Bind(ShareInit, "curl_share_init") &&
        Bind(ShareSetopt, "curl_share_setopt") && Bind(ShareCleanup, "curl_share_cleanup") &&
        Bind(SlistAppend, "curl_slist_append") && Bind(SlistFreeAll, "curl_slist_free_all");
    if (!all) {
      // Too old a libcurl: no request is better than a half-bound one.
      std::fprintf(stderr, "tamsel-cli: the libcurl found lacks a function this program needs\n");
      dlclose(Library);
      *this = TCurl{nullptr};
    }
  }
  explicit TCurl(std::nullptr_t) {}
  bool Ready() const { return Library != nullptr; }
};

const TCurl& Curl() {
  static const TCurl curl;
  return curl;
}

} // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
  return Curl().Ready() ? Curl().GlobalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init(void) {
  return Curl().Ready() ? Curl().EasyInit() : nullptr;
}

// The one argument after the option is read as the type the option's number
// says, as libcurl itself reads it.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  if (!Curl().Ready()) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, option);
  CURLcode code;
  if (option < CURLOPTTYPE_OBJECTPOINT)
    code = Curl().EasySetopt(handle, option, va_arg(args, long));
  else if (option < CURLOPTTYPE_FUNCTIONPOINT || option >= CURLOPTTYPE_BLOB)
    code = Curl().EasySetopt(handle, option, va_arg(args, void*));
  else if (option < CURLOPTTYPE_OFF_T)
    code = Curl().EasySetopt(handle, option, va_arg(args, void (*)()));
  else
    code = Curl().EasySetopt(handle, option, va_arg(args, curl_off_t));
  va_end(args);
  return code;
}

CURLcode curl_easy_perform(CURL* handle) {
  return Curl().Ready() ? Curl().EasyPerform(handle) : CURLE_FAILED_INIT;
}

void curl_easy_cleanup(CURL* handle) {
  if (Curl().Ready()) Curl().EasyCleanup(handle);
}

CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  if (!Curl().Ready()) return CURLE_FAILED_INIT;
  va_list args;
  va_start(args, info);
  void* out = va_arg(args, void*);
  va_end(args);
  return Curl().EasyGetinfo(handle, info, out);
}

const char* curl_easy_strerror(CURLcode code) {
  return Curl().Ready() ? Curl().EasyStrerror(code) : "libcurl could not be loaded";
}

CURLSH* curl_share_init(void) {
  return Curl().Ready() ? Curl().ShareInit() : nullptr;
}

CURLSHcode curl_share_setopt(CURLSH* share, CURLSHoption option, ...) {
  if (!Curl().Ready()) return CURLSHE_NOT_BUILT_IN;
  va_list args;
  va_start(args, option);
  CURLSHcode code;
  switch (option) {
  case CURLSHOPT_SHARE:
  case CURLSHOPT_UNSHARE:
    code = Curl().ShareSetopt(share, option, va_arg(args, int));
    break;
  case CURLSHOPT_LOCKFUNC:
  case CURLSHOPT_UNLOCKFUNC:
    code = Curl().ShareSetopt(share, option, va_arg(args, void (*)()));
    break;
  default:
    code = Curl().ShareSetopt(share, option, va_arg(args, void*));
    break;
  }
  va_end(args);
  return code;
}

CURLSHcode curl_share_cleanup(CURLSH* share) {
  return Curl().Ready() ? Curl().ShareCleanup(share) : CURLSHE_NOT_BUILT_IN;
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  return Curl().Ready() ? Curl().SlistAppend(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
  if (Curl().Ready()) Curl().SlistFreeAll(list);
}

} // extern "C"
