// One GET through WinHTTP, synchronous, on the calling thread. Redirects are followed here rather
// than by WinHTTP, so that each hop is counted and an https to http hop can be refused; the
// certificate of a server signed by one of the request's own authorities is checked here against
// those authorities before its reply is read.

#include <shlwapi.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace vellomar::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The most of a body held at once: each read hands at most this much to the sink.
constexpr DWORD kChunkBytes = DWORD{64} << 10;
// Longer addresses are refused before anything is sent.
constexpr std::size_t kMaxUrlChars = 8192;

struct InternetCloser {
  void operator()(HINTERNET handle) const { ::WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

struct StoreCloser {
  void operator()(HCERTSTORE store) const { ::CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

// The system's words for a WinHTTP or system error, with its number.
std::string Words(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD size = ::FormatMessageW(flags, ::GetModuleHandleW(L"winhttp.dll"), error, 0,
                                      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (size > 0 && text != nullptr) {
    words = win32::Narrow(std::wstring_view(text, size)).value_or(std::string());
    while (!words.empty() && static_cast<unsigned char>(words.back()) <= ' ') words.pop_back();
  }
  if (text != nullptr) ::LocalFree(text);
  const std::string number = "error " + std::to_string(error);
  return words.empty() ? number : words + " (" + number + ")";
}

HttpFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
      return HttpFailure::kTimedOut;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return HttpFailure::kCannotConnect;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return HttpFailure::kCertificate;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return HttpFailure::kBadUrl;
    default:
      return HttpFailure::kBroken;
  }
}

// Where a request goes: what WinHttpConnect and WinHttpOpenRequest take.
struct Address {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query
};

// The parts of an http:// or https:// address; nullopt for any other.
std::optional<Address> Crack(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      static_cast<DWORD>(-1);
  if (url.size() > kMaxUrlChars ||
      !::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0) {
    return std::nullopt;
  }
  Address address;
  address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  address.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  address.port = parts.nPort;
  if (parts.lpszUrlPath != nullptr) address.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) {
    address.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  address.object = address.object.substr(0, address.object.find(L'#'));  // never sent
  if (address.object.empty()) address.object = L"/";
  return address;
}

// A redirect's Location resolved against the address that answered with it.
std::optional<std::wstring> Resolve(const std::wstring& base, const std::wstring& location) {
  std::wstring url(2048, L'\0');
  DWORD size = static_cast<DWORD>(url.size());
  HRESULT result = ::UrlCombineW(base.c_str(), location.c_str(), url.data(), &size, 0);
  if (result == E_POINTER && size <= kMaxUrlChars) {
    url.assign(size + 1, L'\0');
    result = ::UrlCombineW(base.c_str(), location.c_str(), url.data(), &size, 0);
  }
  if (result != S_OK) return std::nullopt;
  url.resize(size);
  return url;
}

// A header of the reply that arrived on `request`; nullopt when it has none.
std::optional<std::wstring> Header(HINTERNET request, DWORD query) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

std::string HeaderText(HINTERNET request, DWORD query) {
  return win32::NarrowUtf8(Header(request, query).value_or(std::wstring()));
}

bool SetNumber(HINTERNET handle, DWORD option, DWORD value) {
  return ::WinHttpSetOption(handle, option, &value, sizeof(value)) != 0;
}

// The certificates of the PEM text in a store of their own; nullptr when a certificate block
// does not decode, or there is none.
Store AuthorityStore(std::string_view pem) {
  Store store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!store) return nullptr;
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int count = 0;
  for (std::size_t begin = pem.find(kBegin); begin != std::string_view::npos;
       begin = pem.find(kBegin, begin + 1)) {
    const std::size_t end = pem.find(kEnd, begin);
    if (end == std::string_view::npos) return nullptr;
    const std::string_view block = pem.substr(begin, end + kEnd.size() - begin);
    DWORD size = 0;
    const auto length = static_cast<DWORD>(block.size());
    if (!::CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                                nullptr, nullptr)) {
      return nullptr;
    }
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(block.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                                nullptr, nullptr) ||
        !::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                            CERT_STORE_ADD_ALWAYS, nullptr)) {
      return nullptr;
    }
    ++count;
  }
  return count > 0 ? std::move(store) : nullptr;
}

// Whether `certificate`, as the server `host` presented it (with the intermediates it sent),
// chains up to one of the authorities in `authorities` alone and names `host`; the reason
// when not.
std::optional<std::string> VerifyAgainst(PCCERT_CONTEXT certificate, HCERTSTORE authorities,
                                         const std::wstring& host) {
  CERT_CHAIN_ENGINE_CONFIG config{};
  // The layout of Windows 7, which every later Windows and Wine take; Wine refuses the longer
  // one of Windows 8.
  config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveTrustedPeople) + sizeof(HCERTSTORE);
  config.hExclusiveRoot = authorities;
  HCERTCHAINENGINE engine = nullptr;
  if (!::CertCreateCertificateChainEngine(&config, &engine)) {
    return "no chain engine over the given authorities: " + Words(::GetLastError());
  }
  LPSTR server_use = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_CHAIN_PARA chain_para{};
  chain_para.cbSize = sizeof(chain_para);
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = &server_use;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  const bool built =
      ::CertGetCertificateChain(engine, certificate, nullptr, certificate->hCertStore, &chain_para,
                                0, nullptr, &chain) != 0;
  const DWORD build_error = ::GetLastError();
  ::CertFreeCertificateChainEngine(engine);
  if (!built) return "the certificate chain cannot be built: " + Words(build_error);

  HTTPSPolicyCallbackData https{};
  https.cbStruct = sizeof(https);
  https.dwAuthType = AUTHTYPE_SERVER;
  https.pwszServerName = const_cast<wchar_t*>(host.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof(policy);
  policy.pvExtraPolicyPara = &https;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  std::optional<std::string> reason;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    reason = "the certificate chain cannot be checked: " + Words(::GetLastError());
  } else if (status.dwError != 0) {
    reason =
        "the certificate does not verify against the given authorities: " + Words(status.dwError);
  } else {
    // The anchor must be one of the given authorities whatever the engine made of its roots.
    const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
    PCCERT_CONTEXT anchor = simple != nullptr && simple->cElement > 0
                                ? simple->rgpElement[simple->cElement - 1]->pCertContext
                                : nullptr;
    PCCERT_CONTEXT found = anchor == nullptr
                               ? nullptr
                               : ::CertFindCertificateInStore(authorities, X509_ASN_ENCODING, 0,
                                                              CERT_FIND_EXISTING, anchor, nullptr);
    if (found == nullptr) reason = "the certificate chain ends at none of the given authorities";
    if (found != nullptr) ::CertFreeCertificateContext(found);
  }
  ::CertFreeCertificateChain(chain);
  return reason;
}

// One request on its connection, the request closed first.
struct Hop {
  Internet connection;
  Internet request;
};

class Exchange {
 public:
  Exchange(const HttpRequest& request, const HttpBodySink& sink)
      : request_(request),
        sink_(sink),
        deadline_(Clock::now() + std::chrono::milliseconds(std::max(request.timeout_ms, 0))) {}

  HttpReply Run();

 private:
  bool Fail(HttpFailure failure, std::string detail) {
    reply_.failure = failure;
    reply_.detail = std::move(detail);
    return false;
  }
  bool FailWith(DWORD error) { return Fail(FailureOf(error), Words(error)); }
  bool OpenSession();
  bool LimitWaits(HINTERNET handle);
  // Sends the GET to `address` and waits for the reply's headers; the error when that failed.
  // With `own_authorities`, a certificate of an unknown root is let through WinHTTP and checked
  // here against the request's authorities before the reply is taken.
  DWORD Send(const Address& address, bool own_authorities, Hop& hop);
  bool ReadBody(HINTERNET request);

  const HttpRequest& request_;
  const HttpBodySink& sink_;
  const Clock::time_point deadline_;
  HttpReply reply_;
  Internet session_;
  std::wstring headers_;  // the validators, as WinHttpSendRequest takes them
  bool decoding_ = true;  // WinHTTP undoes gzip and deflate (false where it cannot)
  Store authorities_;     // the request's own authorities, once parsed
};

bool Exchange::OpenSession() {
  const std::wstring agent = L"vellomar/" + std::to_wstring(VELLOMAR_VERSION_MAJOR) + L"." +
                             std::to_wstring(VELLOMAR_VERSION_MINOR) + L"." +
                             std::to_wstring(VELLOMAR_VERSION_PATCH);
  // The automatic proxy (Windows 8.1 and later) also follows a proxy script; older systems
  // refuse it and take the configured one.
  session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) {
    session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  }
  return session_ ? true : FailWith(::GetLastError());
}

// Each wait of WinHTTP may last what is left of the time-out, no longer.
bool Exchange::LimitWaits(HINTERNET handle) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
  if (left.count() <= 0) {
    return Fail(HttpFailure::kTimedOut,
                "no complete answer within " + std::to_string(request_.timeout_ms) + " ms");
  }
  const int ms = static_cast<int>(left.count());
  if (!::WinHttpSetTimeouts(handle, ms, ms, ms, ms) ||
      !SetNumber(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(ms))) {
    return FailWith(::GetLastError());
  }
  return true;
}

DWORD Exchange::Send(const Address& address, bool own_authorities, Hop& hop) {
  hop.connection.reset(::WinHttpConnect(session_.get(), address.host.c_str(), address.port, 0));
  if (!hop.connection) return ::GetLastError();
  hop.request.reset(::WinHttpOpenRequest(hop.connection.get(), L"GET", address.object.c_str(),
                                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         address.secure ? WINHTTP_FLAG_SECURE : 0));
  HINTERNET request = hop.request.get();
  if (!request || !SetNumber(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS)) {
    return ::GetLastError();
  }
  // Where WinHTTP cannot decode, no Accept-Encoding is sent and the reply comes as it is.
  if (decoding_) {
    decoding_ = SetNumber(request, WINHTTP_OPTION_DECOMPRESSION, WINHTTP_DECOMPRESSION_FLAG_ALL);
  }
  if (own_authorities) {
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, &size) ||
        !SetNumber(request, WINHTTP_OPTION_SECURITY_FLAGS,
                   flags | SECURITY_FLAG_IGNORE_UNKNOWN_CA)) {
      return ::GetLastError();
    }
  }
  if (!LimitWaits(request)) return ERROR_WINHTTP_TIMEOUT;
  const wchar_t* headers = headers_.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers_.c_str();
  if (!::WinHttpSendRequest(request, headers, static_cast<DWORD>(headers_.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return ::GetLastError();
  }
  if (own_authorities) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        certificate == nullptr) {
      Fail(HttpFailure::kCertificate,
           "the server's certificate cannot be had: " + Words(::GetLastError()));
      return ERROR_WINHTTP_SECURE_FAILURE;
    }
    const auto reason = VerifyAgainst(certificate, authorities_.get(), address.host);
    ::CertFreeCertificateContext(certificate);
    if (reason) {
      Fail(HttpFailure::kCertificate, *reason);
      return ERROR_WINHTTP_SECURE_FAILURE;
    }
  }
  if (!LimitWaits(request)) return ERROR_WINHTTP_TIMEOUT;
  return ::WinHttpReceiveResponse(request, nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

bool Exchange::ReadBody(HINTERNET request) {
  // Without decoding the reply's length is that of the bytes handed over; a body cut short
  // is then caught here. A decoded body's length is WinHTTP's to check.
  std::optional<std::uint64_t> expected;
  if (!decoding_) {
    const std::string encoding = HeaderText(request, WINHTTP_QUERY_CONTENT_ENCODING);
    if (!encoding.empty() && encoding != "identity") {
      return Fail(HttpFailure::kBroken, "the body comes encoded as \"" + encoding +
                                            "\", which this system's WinHTTP cannot decode");
    }
    const std::string length = HeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) expected = std::strtoull(length.c_str(), nullptr, 10);
  }
  std::vector<char> buffer(kChunkBytes);
  std::uint64_t total = 0;
  for (;;) {
    if (!LimitWaits(request)) return false;
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request, &available)) return FailWith(::GetLastError());
    if (available == 0) break;
    DWORD got = 0;
    if (!::WinHttpReadData(request, buffer.data(), std::min(available, kChunkBytes), &got)) {
      return FailWith(::GetLastError());
    }
    if (got == 0) break;
    total += got;
    if (!sink_(std::string_view(buffer.data(), got))) {
      return Fail(HttpFailure::kStopped, "stopped after " + std::to_string(total) + " bytes");
    }
  }
  if (expected && total != *expected) {
    return Fail(HttpFailure::kBroken, "the reply ended after " + std::to_string(total) + " of " +
                                          std::to_string(*expected) + " bytes");
  }
  return true;
}

HttpReply Exchange::Run() {
  auto url = win32::WidenUtf8(request_.url);
  if (!url || url->empty()) {
    Fail(HttpFailure::kBadUrl, "not an address: \"" + request_.url + "\"");
    return reply_;
  }
  for (const auto& [name, value] : {std::pair{L"If-None-Match", &request_.if_none_match},
                                    std::pair{L"If-Modified-Since", &request_.if_modified_since}}) {
    if (value->empty()) continue;
    const auto wide = win32::WidenUtf8(*value);
    if (!wide || wide->find_first_of(L"\r\n") != std::wstring::npos) {
      Fail(HttpFailure::kBroken, "a validator that cannot be sent: \"" + *value + "\"");
      return reply_;
    }
    headers_ += std::wstring(name) + L": " + *wide + L"\r\n";
  }
  if (!request_.extra_authorities.empty()) {
    authorities_ = AuthorityStore(request_.extra_authorities);
    if (!authorities_) {
      Fail(HttpFailure::kCertificate, "the extra authorities are no PEM certificates");
      return reply_;
    }
  }
  if (!OpenSession()) return reply_;

  bool was_secure = false;
  for (int redirects = 0;;) {
    const auto address = Crack(*url);
    if (!address) {
      Fail(HttpFailure::kBadUrl,
           "not an http:// or https:// address: \"" + win32::NarrowUtf8(*url) + "\"");
      return reply_;
    }
    if (was_secure && !address->secure) {
      Fail(HttpFailure::kInsecureRedirect,
           "redirected from https to \"" + win32::NarrowUtf8(*url) + "\"");
      return reply_;
    }
    was_secure = address->secure;
    Hop hop;
    DWORD error = Send(*address, false, hop);
    // A certificate the system turns down is tried once more against the request's own
    // authorities; a second refusal (another fault than the root) stands. Wine reports the
    // refusal as a channel error.
    if ((error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_INVALID_CA ||
         error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) &&
        authorities_) {
      hop = Hop();
      error = Send(*address, true, hop);
    }
    if (error != ERROR_SUCCESS) {
      if (reply_.failure == HttpFailure::kNone) FailWith(error);
      return reply_;
    }
    HINTERNET request = hop.request.get();
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
      FailWith(::GetLastError());
      return reply_;
    }
    reply_.status = static_cast<int>(status);
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    const auto location = redirect ? Header(request, WINHTTP_QUERY_LOCATION) : std::nullopt;
    if (location) {
      if (redirects >= request_.max_redirects) {
        Fail(HttpFailure::kTooManyRedirects,
             "more than " + std::to_string(request_.max_redirects) + " redirects");
        return reply_;
      }
      ++redirects;
      url = Resolve(*url, *location);
      if (!url) {
        Fail(HttpFailure::kBadUrl, "a redirect to \"" + win32::NarrowUtf8(*location) + "\"");
        return reply_;
      }
      continue;
    }
    reply_.etag = HeaderText(request, WINHTTP_QUERY_ETAG);
    reply_.last_modified = HeaderText(request, WINHTTP_QUERY_LAST_MODIFIED);
    reply_.content_type = HeaderText(request, WINHTTP_QUERY_CONTENT_TYPE);
    // Other bodies are dropped with the request.
    if (status == 200) ReadBody(request);
    return reply_;
  }
}

}  // namespace

HttpReply HttpGet(const HttpRequest& request, const HttpBodySink& sink) {
  return Exchange(request, sink).Run();
}

}  // namespace vellomar::platform
