#include "support/file_reader.h"

#include "platform/platform.h"

namespace vellomar::support {

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  ReadWholeFileInto(path, content);
  return content;
}

bool ReadWholeFileInto(const std::string& path, std::string& buffer) {
  if (!platform::FileExists(path)) {
    buffer.clear();
    return false;
  }
  return platform::ReadFileInto(path, buffer);
}

}  // namespace vellomar::support
