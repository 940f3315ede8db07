#include "support/file_reader.h"

#include <fstream>

#include "platform/platform.h"

namespace vellomar::support {

std::string ReadWholeFile(const std::string& path) {
  if (!platform::FileExists(path)) return {};
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff length = in.tellg();
  if (length <= 0) return {};
  std::string content(static_cast<std::size_t>(length), '\0');
  in.seekg(0);
  in.read(content.data(), length);
  // A short read, or a file that grew since its length was taken, is not a whole file.
  if (in.gcount() != length || in.peek() != std::char_traits<char>::eof()) return {};
  return content;
}

}  // namespace vellomar::support
