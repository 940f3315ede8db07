// One platform::HttpGet from the command line, for tests/platform/http_nginx.sh:
//   http_get_driver URL [--etag ETAG] [--ca PEM_FILE]
// Prints "status=<n> etag=<etag> bytes=<n> failure=<name> detail=<text>"; exit 2 on bad usage.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "support/file_reader.h"

int main(int argc, char** argv) {
  using namespace vellomar;
  platform::HttpRequest request;
  bool usable = argc >= 2 && argc % 2 == 0;
  if (usable) request.url = argv[1];
  for (int i = 2; usable && i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--etag") {
      request.if_none_match = argv[i + 1];
    } else {
      usable = option == "--ca" && support::ReadWholeFile(argv[i + 1], request.extra_authorities) ==
                                       platform::ReadStatus::kOk;
    }
  }
  if (!usable) {
    std::fprintf(stderr, "usage: http_get_driver URL [--etag ETAG] [--ca PEM_FILE]\n");
    return 2;
  }
  std::size_t bytes = 0;
  const auto reply = platform::HttpGet(request, [&bytes](std::string_view chunk) {
    bytes += chunk.size();
    return true;
  });
  static const char* const kNames[] = {
      "none",        "bad-url",           "cannot-connect",     "timed-out",
      "certificate", "insecure-redirect", "too-many-redirects", "stopped",
      "broken"};
  std::printf("status=%d etag=%s bytes=%zu failure=%s detail=%s\n", reply.status,
              reply.etag.c_str(), bytes, kNames[static_cast<int>(reply.failure)],
              reply.detail.c_str());
  return 0;
}
