// The test helpers that need Windows means.
#include "common/test_util.h"
#include "common/windows_test_util.h"

namespace vellomar::testing {

std::string PlaceProbe(const std::string& folder, const std::string& stem) {
  const std::string path = folder + "\\" + stem + ".exe";
  char full[MAX_PATH];
  if (::GetFullPathNameA(VELLOMAR_PROBE, MAX_PATH, full, nullptr) == 0 ||
      !::CopyFileA(full, path.c_str(), FALSE)) {
    ADD_FAILURE() << "cannot copy the probe to " << path;
  }
  return path;
}

}  // namespace vellomar::testing
