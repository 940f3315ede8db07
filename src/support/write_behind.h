// Handing blocks of output to a thread of its own, which writes them: whoever fills the blocks
// goes on with the next one while the last one is written.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "support/file_reader.h"

namespace vellomar::support {

// Two blocks of `block_size` bytes: the one being filled and the one being written. `write` gets
// the blocks in the order they were submitted, one at a time, on the thread of its own (or on the
// caller's, when no thread could be started); whoever writes to a file keeps its failures for
// later, as a ReplacementFile does until its commit. Not for sharing: one thread fills, submits
// and drains.
class WriteBehind {
 public:
  WriteBehind(std::function<void(std::string_view)> write, std::size_t block_size);
  // Writes what was submitted and ends the thread.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // The block to fill.
  char* Block() { return blocks_[filling_].data(); }
  // Hands the first `size` bytes of Block() to the file; Block() is then the other block, once
  // the file has taken what was submitted before.
  void Submit(std::size_t size);
  // Returns once every block submitted is written, so that what `write` touches may be used
  // directly.
  void Drain();

 private:
  void WriteQueued();

  std::function<void(std::string_view)> write_;
  BlockBuffer blocks_[2];  // page-aligned, which the system copies from fastest
  int filling_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  const char* queued_ = nullptr;  // a block submitted and not yet written
  std::size_t queued_size_ = 0;
  bool stopping_ = false;
  std::thread writer_;   // started by the first submit; none when no thread could be started
  bool direct_ = false;  // no thread: blocks are written as they are submitted
};

}  // namespace vellomar::support
