// Windows has no limit on the size of the files one process writes.
#include "common/test_util.h"

namespace vellomar::testing {

bool LimitFileSize(std::uint64_t /*bytes*/) { return false; }

}  // namespace vellomar::testing
