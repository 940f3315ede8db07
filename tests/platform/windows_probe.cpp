// A stand-in for the programs the Windows tests would otherwise start. With "/displaydns" it
// prints a short cache listing as the IP configuration tool does; with anything else it
// writes each argument it received, one a line, to args.txt in its working folder.
#include <cstdio>
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
  std::FILE* out = std::fopen("args.txt", "wb");
  if (out == nullptr) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
  return std::fclose(out) == 0 ? 0 : 1;
}
