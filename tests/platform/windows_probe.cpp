// A stand-in for the programs the Windows tests would otherwise start. With "/displaydns" it
// prints a short cache listing as the IP configuration tool does; with "/hang" it waits a
// minute; with "/exit N" it says so on its error output and ends with status N; with anything
// else it writes each argument it received, one a line, to args.txt in its working folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "/displaydns") == 0) {
    std::fputs(
        "Windows IP Configuration\n\n    probe.example\n"
        "    Record Name . . . . . : probe.example\n"
        "    A (Host) Record . . . : 192.0.2.7\n\n",
        stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "/hang") == 0) {
    ::Sleep(60000);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "/exit") == 0) {
    std::fputs("ending as asked\n", stderr);
    return std::atoi(argv[2]);
  }
  std::FILE* out = std::fopen("args.txt", "wb");
  if (out == nullptr) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
  return std::fclose(out) == 0 ? 0 : 1;
}
