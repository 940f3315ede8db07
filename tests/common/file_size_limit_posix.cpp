// The file size limit of a POSIX process, for tests that need a file system that fills up.
#include <signal.h>
#include <sys/resource.h>

#include "common/test_util.h"

namespace vellomar::testing {

bool LimitFileSize(std::uint64_t bytes) {
  rlimit limit;
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(bytes);
  // A write past the limit fails with EFBIG instead of ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace vellomar::testing
