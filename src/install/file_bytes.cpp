#include "install/file_bytes.h"

#include <filesystem>
#include <system_error>

#include "platform/platform.h"
#include "support/file_reader.h"

namespace vellomar::install {

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::string bytes = support::ReadWholeFile(path);
  if (!bytes.empty()) return bytes;
  // The reader gives empty text for every failure too; only a file of length 0 is truly empty.
  if (!platform::FileExists(path)) return std::nullopt;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size != 0) return std::nullopt;
  return bytes;
}

}  // namespace vellomar::install
