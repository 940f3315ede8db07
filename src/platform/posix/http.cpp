// One GET of a list through libcurl. Redirects are followed here, one request at a time, rather
// than by libcurl: each new address is judged before it is asked (http or https only, never
// from https down to http), and the count and the time-out cover the whole chain.
//
// libcurl is loaded by the first request, not when the program starts: it brings some thirty
// libraries, whose loading would cost every start of every command several milliseconds, while
// only fetching needs them. The loader looks for it as it looks for any library at start.
#include <curl/curl.h>
#include <dlfcn.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

// The functions of libcurl that a request calls.
struct CurlLibrary {
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_perform) easy_perform = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

// libcurl, loaded and initialised by the first call (before any other thread could use it);
// nullptr when it is not installed or lacks a function.
const CurlLibrary* Curl() {
  static const CurlLibrary* const loaded = []() -> const CurlLibrary* {
    void* const handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static CurlLibrary library;
    bool complete = true;
    const auto bind = [&](auto& function, const char* name) {
      using Function = std::remove_reference_t<decltype(function)>;
      function = reinterpret_cast<Function>(::dlsym(handle, name));
      complete = complete && function != nullptr;
    };
    bind(library.global_init, "curl_global_init");
    bind(library.easy_init, "curl_easy_init");
    bind(library.easy_cleanup, "curl_easy_cleanup");
    bind(library.easy_setopt, "curl_easy_setopt");
    bind(library.easy_getinfo, "curl_easy_getinfo");
    bind(library.easy_perform, "curl_easy_perform");
    bind(library.easy_strerror, "curl_easy_strerror");
    bind(library.slist_append, "curl_slist_append");
    bind(library.slist_free_all, "curl_slist_free_all");
    if (!complete || library.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    return &library;
  }();
  return loaded;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { Curl()->easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { Curl()->slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// The scheme of an address we may ask, or empty text when it is no http or https address.
std::string_view SchemeOf(std::string_view url) {
  const auto starts = [&](std::string_view prefix) {
    if (url.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      const char c = url[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != prefix[i]) return false;
    }
    return true;
  };
  if (starts("https://")) return "https";
  if (starts("http://")) return "http";
  return {};
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// What one exchange collects: the headers of the reply under way and whether its body goes to
// the sink.
struct Exchange {
  CURL* easy = nullptr;
  const HttpBodySink* sink = nullptr;
  HttpReply* reply = nullptr;
  bool sink_stopped = false;
};

// A header value without its name, the colon and the blanks around it.
std::string ValueOf(std::string_view line, std::size_t colon) {
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' ||
                            value.back() == '\t')) {
    value.remove_suffix(1);
  }
  return std::string(value);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& exchange = *static_cast<Exchange*>(user);
  const std::string_view line(data, size * count);
  // A status line starts the headers of another reply (an interim one, or the next hop's).
  if (line.rfind("HTTP/", 0) == 0) {
    exchange.reply->etag.clear();
    exchange.reply->last_modified.clear();
    exchange.reply->content_type.clear();
    return line.size();
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return line.size();
  std::string name(line.substr(0, colon));
  for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (name == "etag") exchange.reply->etag = ValueOf(line, colon);
  if (name == "last-modified") exchange.reply->last_modified = ValueOf(line, colon);
  if (name == "content-type") exchange.reply->content_type = ValueOf(line, colon);
  return line.size();
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& exchange = *static_cast<Exchange*>(user);
  const std::size_t length = size * count;
  long status = 0;
  Curl()->easy_getinfo(exchange.easy, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) return length;  // the body of a redirect or an error: not the list
  if (!(*exchange.sink)(std::string_view(data, length))) {
    exchange.sink_stopped = true;
    return CURL_WRITEFUNC_ERROR;
  }
  return length;
}

HttpFailure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return HttpFailure::kBadUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
      return HttpFailure::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::kTimedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return HttpFailure::kCertificate;
    case CURLE_TOO_MANY_REDIRECTS:
      return HttpFailure::kTooManyRedirects;
    default:
      return HttpFailure::kBroken;
  }
}

// The authorities the request trusts: the system's bundle followed by the request's own. A blob
// given to libcurl takes the place of its bundle file (the folder of hashed certificates stays),
// so the bundle is read here and put first; when it cannot be read the folder still serves.
std::string Authorities(CURL* easy, const std::string& extra) {
  std::string bundle;
  char* system_file = nullptr;
  if (Curl()->easy_getinfo(easy, CURLINFO_CAINFO, &system_file) == CURLE_OK &&
      system_file != nullptr && ReadFileWhole(system_file, bundle) != ReadStatus::kOk) {
    bundle.clear();
  }
  if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
  return bundle + extra;
}

}  // namespace

HttpReply HttpGet(const HttpRequest& request, const HttpBodySink& sink) {
  HttpReply reply;
  const CurlLibrary* const curl = Curl();
  if (curl == nullptr) {
    reply.failure = HttpFailure::kBroken;
    reply.detail = "libcurl (libcurl.so.4) could not be loaded";
    return reply;
  }
  std::string url = request.url;
  if (SchemeOf(url).empty()) {
    reply.failure = HttpFailure::kBadUrl;
    return reply;
  }
  const Easy easy(curl->easy_init());
  if (!easy) {
    reply.failure = HttpFailure::kBroken;
    reply.detail = "libcurl could not start a request";
    return reply;
  }
  HeaderList headers;
  for (const auto& [name, value] :
       {std::pair<const char*, const std::string&>{"If-None-Match: ", request.if_none_match},
        {"If-Modified-Since: ", request.if_modified_since}}) {
    if (value.empty()) continue;
    curl_slist* more = curl->slist_append(headers.get(), (name + value).c_str());
    if (more == nullptr) {
      reply.failure = HttpFailure::kBroken;
      return reply;
    }
    (void)headers.release();
    headers.reset(more);
  }
  const std::string authorities = request.extra_authorities.empty()
                                      ? std::string()
                                      : Authorities(easy.get(), request.extra_authorities);
  char error[CURL_ERROR_SIZE] = {};
  Exchange exchange{easy.get(), &sink, &reply, false};
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(request.timeout_ms);
  CURL* const e = easy.get();
  curl->easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl->easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl->easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl->easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl->easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
  curl->easy_setopt(e, CURLOPT_USERAGENT, "vellomar/" VELLOMAR_VERSION);
  curl->easy_setopt(e, CURLOPT_ERRORBUFFER, error);
  curl->easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl->easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl->easy_setopt(e, CURLOPT_HEADERDATA, &exchange);
  curl->easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl->easy_setopt(e, CURLOPT_WRITEDATA, &exchange);
  if (!authorities.empty()) {
    curl_blob blob{const_cast<char*>(authorities.data()), authorities.size(), CURL_BLOB_COPY};
    curl->easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
  }
  for (int redirects = 0;; ++redirects) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      reply.failure = HttpFailure::kTimedOut;
      return reply;
    }
    error[0] = '\0';
    curl->easy_setopt(e, CURLOPT_URL, url.c_str());
    curl->easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    const CURLcode code = curl->easy_perform(e);
    long status = 0;
    curl->easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    reply.status = static_cast<int>(status);
    if (code != CURLE_OK) {
      reply.failure = exchange.sink_stopped ? HttpFailure::kStopped : FailureOf(code);
      reply.detail = error[0] != '\0' ? std::string(error) : std::string(curl->easy_strerror(code));
      return reply;
    }
    char* next = nullptr;
    if (!IsRedirect(status) || curl->easy_getinfo(e, CURLINFO_REDIRECT_URL, &next) != CURLE_OK ||
        next == nullptr) {
      return reply;  // the final reply, whatever its status
    }
    const std::string_view next_scheme = SchemeOf(next);
    if (next_scheme.empty()) {
      reply.failure = HttpFailure::kBadUrl;
      reply.detail = std::string("redirected to ") + next;
    } else if (SchemeOf(url) == "https" && next_scheme == "http") {
      reply.failure = HttpFailure::kInsecureRedirect;
      reply.detail = std::string("redirected to ") + next;
    } else if (redirects >= request.max_redirects) {
      reply.failure = HttpFailure::kTooManyRedirects;
      reply.detail = "more than " + std::to_string(request.max_redirects) + " redirects";
    }
    if (reply.failure != HttpFailure::kNone) return reply;
    url = next;
  }
}

}  // namespace vellomar::platform
