// A stand-in for the programs the tests would otherwise start. With "/displaydns" it prints a
// short cache listing as the Windows IP configuration tool does; with "/hang" it waits a
// minute; with "/exit N" it says so on its error output and ends with status N, its input
// unread; with "/count N" it reads its input and writes the number of bytes to its error output
// and "123456" to its output, and ends with status N; with "/late" it waits a second and goes
// on as with anything else: it writes each argument it received (after "/late"), one a line,
// to args.txt in its working folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
  const auto is = [&](int index, const char* word) {
    return argc > index && std::strcmp(argv[index], word) == 0;
  };
  if (is(1, "/displaydns")) {
    std::fputs(
        "Windows IP Configuration\n\n    probe.example\n"
        "    Record Name . . . . . : probe.example\n"
        "    A (Host) Record . . . : 192.0.2.7\n\n",
        stdout);
    return 0;
  }
  if (is(1, "/hang")) {
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
  }
  if (argc == 3 && (is(1, "/exit") || is(1, "/count"))) {
    if (is(1, "/count")) {
#ifdef _WIN32
      ::_setmode(::_fileno(stdin), _O_BINARY);
#endif
      long bytes = 0;
      while (std::fgetc(stdin) != EOF) ++bytes;
      std::fprintf(stderr, "%ld\n", bytes);
      std::fputs("123456\n", stdout);
    } else {
      std::fputs("ending as asked\n", stderr);
    }
    return std::atoi(argv[2]);
  }
  int first = 1;
  if (is(1, "/late")) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    first = 2;
  }
  std::FILE* out = std::fopen("args.txt", "wb");
  if (out == nullptr) return 1;
  for (int i = first; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
  return std::fclose(out) == 0 ? 0 : 1;
}
