// platform::HttpGet through WinHTTP against a server of the test's own on 127.0.0.1 (Winsock, on
// a thread), run on Windows or under Wine: the replies a list server gives, validators,
// redirects, a stopped transfer and a server that never answers.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace vellomar::platform {
namespace {

// Answers each connection with what `answer` makes of its request head, then closes it; an
// empty answer leaves the connection open, unanswered, until the server ends.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::string (*answer)(const std::string& head)) : answer_(answer) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    auto* name = reinterpret_cast<sockaddr*>(&address);
    EXPECT_FALSE(::bind(listener_, name, size) || ::listen(listener_, 16) ||
                 ::getsockname(listener_, name, &size));
    origin = "http://127.0.0.1:" + std::to_string(::ntohs(address.sin_port));
    thread_ = std::jthread([this](std::stop_token stop) { Serve(stop); });
  }
  ~LoopbackServer() {
    thread_ = {};  // stops and joins the server
    for (SOCKET socket : silent_) ::closesocket(socket);
    ::closesocket(listener_);
    ::WSACleanup();
  }
  std::string LastHead() {
    std::lock_guard lock(mutex_);
    return last_head_;
  }
  static inline std::string origin;

 private:
  void Serve(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      fd_set ready{1, {listener_}};
      timeval wait{0, 20000};
      if (::select(0, &ready, nullptr, nullptr, &wait) != 1) continue;
      const SOCKET client = ::accept(listener_, nullptr, nullptr);
      std::string head;
      char buffer[4096];
      for (int got = 1; got > 0 && head.find("\r\n\r\n") == std::string::npos;) {
        got = ::recv(client, buffer, sizeof(buffer), 0);
        head.append(buffer, static_cast<std::size_t>(std::max(got, 0)));
      }
      std::lock_guard lock(mutex_);
      const std::string reply = answer_(last_head_ = head);
      if (reply.empty()) {
        silent_.push_back(client);
        continue;
      }
      for (int sent = 0, got = 1; sent < static_cast<int>(reply.size()) && got > 0; sent += got) {
        got = ::send(client, reply.data() + sent, static_cast<int>(reply.size()) - sent, 0);
      }
      ::shutdown(client, SD_SEND);
      ::closesocket(client);
    }
  }

  std::string (*answer_)(const std::string& head);
  SOCKET listener_ = INVALID_SOCKET;
  std::mutex mutex_;
  std::string last_head_;
  std::vector<SOCKET> silent_;
  std::jthread thread_;
};

std::string Reply(const std::string& status, const std::string& headers, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

const std::string kLarge = [] {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i)
    text += "0.0.0.0 ad" + std::to_string(i) + ".example\n";
  return text;
}();
const std::string kPlain = "gzip-coded hosts list\n";
const std::string kGzip(
    "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x4b\xaf\xca\x2c\xd0\x4d\xce\x4f\x49\x4d\x51\xc8\xc8"
    "\x2f\x2e\x29\x56\xc8\xc9\x2c\x2e\xe1\x02\x00\xf7\xed\xec\xf0\x16\x00\x00\x00",
    42);
const std::string kDated = "Tue, 01 Jul 2025 10:00:00 GMT";
std::atomic<bool> gzip_asked = false;

std::string Answer(const std::string& head) {
  const std::string path = head.substr(4, head.find(' ', 4) - 4);
  const auto has = [&head](const std::string& text) {
    return head.find(text) != std::string::npos;
  };
  const std::string validators = "ETag: \"v1\"\r\nLast-Modified: " + kDated + "\r\n";
  if (path == "/list" && has("If-None-Match: \"v1\"\r\n") &&
      has("If-Modified-Since: " + kDated + "\r\n")) {
    return Reply("304 Not Modified", validators, "");
  }
  if (path == "/list") return Reply("200 OK", validators + "Content-Type: text/plain\r\n", kLarge);
  if (path == "/chunked") {
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\nhosts "
           "\r\n4\r\nlist\r\n0\r\n\r\n";
  }
  if (path == "/gzip") {
    gzip_asked = has("\r\nAccept-Encoding: gzip");
    return gzip_asked ? Reply("200 OK", "Content-Encoding: gzip\r\n", kGzip)
                      : Reply("200 OK", "", kPlain);
  }
  if (path == "/silent") return "";
  // /rel/N and /abs/N redirect N more times: by a relative address; by a full address and an
  // absolute path in turn.
  const int left = path.size() > 5 && path[4] == '/' ? std::atoi(&path[5]) : -1;
  const std::string next = std::to_string(left - 1);
  if (left == 0) return Reply("200 OK", "", "end");
  if (left > 0 && path[1] == 'r') return Reply("302 Found", "Location: " + next + "\r\n", "");
  if (left > 0) {
    const std::string location = (left % 2 ? LoopbackServer::origin : "") + "/abs/" + next;
    return Reply("301 Moved Permanently", "Location: " + location + "\r\n", "");
  }
  return Reply("404 Not Found", "", "no such list");
}

TEST(HttpGet, GivesStatusValidatorsAndBodyAsTheServerSentThem) {
  LoopbackServer server(Answer);
  struct Row {
    std::string path;
    HttpFailure failure;
    int status;
    std::string body;
    std::string etag;
    std::string if_none_match;  // sent with If-Modified-Since when set
    int max_redirects;
    int timeout_ms;
    bool stop;         // the sink stops at the first chunk
    std::string sent;  // in the last request the server saw
  };
  using enum HttpFailure;
  const std::string v1 = "\"v1\"";
  const Row rows[] = {
      {"/list", kNone, 200, kLarge, v1, "", 5, 10000, false, "\r\nUser-Agent: vellomar/"},
      {"/list", kNone, 304, "", v1, v1, 5, 10000, false, ""},
      {"/list", kNone, 200, kLarge, v1, "\"v0\"", 5, 10000, false, "If-None-Match: \"v0\""},
      {"/list", kStopped, 200, "", v1, "", 5, 10000, true, ""},
      {"/missing", kNone, 404, "", "", "", 5, 10000, false, ""},
      {"/chunked", kNone, 200, "hosts list", "", "", 5, 10000, false, ""},
      {"/gzip", kNone, 200, kPlain, "", "", 5, 10000, false, ""},
      {"/rel/5", kNone, 200, "end", "", "", 5, 10000, false, "GET /rel/0 "},
      {"/abs/5", kNone, 200, "end", "", "", 5, 10000, false, "GET /abs/0 "},
      {"/abs/6", kTooManyRedirects, 301, "", "", "", 5, 10000, false, "GET /abs/1 "},
      {"/rel/2", kTooManyRedirects, 302, "", "", "", 1, 10000, false, "GET /rel/1 "},
      {"/silent", kTimedOut, 0, "", "", "", 5, 1000, false, ""},
      {"ftp://127.0.0.1/list", kBadUrl, 0, "", "", "", 5, 10000, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    HttpRequest request;
    request.url = row.path.starts_with("/") ? LoopbackServer::origin + row.path : row.path;
    request.if_none_match = row.if_none_match;
    request.if_modified_since = row.if_none_match.empty() ? "" : kDated;
    request.max_redirects = row.max_redirects;
    request.timeout_ms = row.timeout_ms;
    std::string body;
    std::size_t chunks = 0;
    std::size_t largest = 0;
    const auto start = std::chrono::steady_clock::now();
    const HttpReply reply = HttpGet(request, [&](std::string_view chunk) {
      body += chunk;
      largest = std::max(largest, chunk.size());
      return ++chunks > 0 && !row.stop;
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(row.timeout_ms + 2000));
    EXPECT_EQ(reply.failure, row.failure) << reply.detail;
    EXPECT_EQ(reply.status, row.status);
    EXPECT_EQ(body, row.stop ? kLarge.substr(0, largest) : row.body);
    EXPECT_EQ(reply.etag, row.etag);
    EXPECT_EQ(reply.last_modified, row.etag.empty() ? "" : kDated);
    EXPECT_EQ(reply.content_type, row.etag.empty() || row.status == 304 ? "" : "text/plain");
    EXPECT_LE(largest, std::size_t{64} << 10);
    EXPECT_TRUE(!row.stop || chunks == 1);
    EXPECT_NE(server.LastHead().find(row.sent), std::string::npos);
  }
  std::printf("WinHTTP asked for gzip: %s\n", gzip_asked ? "yes" : "no");
}

}  // namespace
}  // namespace vellomar::platform
