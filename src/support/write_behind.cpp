#include "support/write_behind.h"

#include <system_error>
#include <utility>

namespace vellomar::support {

WriteBehind::WriteBehind(std::function<void(std::string_view)> write, std::size_t block_size)
    : write_(std::move(write)), blocks_{BlockBuffer(block_size), BlockBuffer(block_size)} {}

WriteBehind::~WriteBehind() {
  if (!writer_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

void WriteBehind::Submit(std::size_t size) {
  const char* const block = Block();
  if (!direct_ && !writer_.joinable()) {
    try {
      writer_ = std::thread([this] { WriteQueued(); });
    } catch (const std::system_error&) {
      direct_ = true;
    }
  }
  if (direct_) {
    write_(std::string_view(block, size));
    return;
  }
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queued_ == nullptr; });
    queued_ = block;
    queued_size_ = size;
  }
  changed_.notify_all();
  filling_ ^= 1;
}

void WriteBehind::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queued_ == nullptr; });
}

void WriteBehind::WriteQueued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return queued_ != nullptr || stopping_; });
    if (queued_ == nullptr) return;
    const std::string_view bytes(queued_, queued_size_);
    lock.unlock();
    write_(bytes);
    lock.lock();
    queued_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace vellomar::support
