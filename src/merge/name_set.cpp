#include "merge/name_set.h"

#include <cstring>
#include <functional>

namespace vellomar::merge {
namespace {

constexpr std::size_t kFirstSlots = 1024;
constexpr std::size_t kMaxOffset = UINT32_MAX - 1;

std::uint64_t HashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }

std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

}  // namespace

std::string_view NameSet::NameAt(std::size_t offset) const {
  const char* at = blocks_[offset / kBlockBytes].get() + offset % kBlockBytes;
  return {at + 1, static_cast<unsigned char>(*at)};
}

std::size_t NameSet::After(std::size_t offset) const {
  std::size_t next = offset + 1 + NameAt(offset).size();
  if (next % kBlockBytes == 0 || next >= used_) return next;
  // A 0 length: the rest of the block is unused.
  if (blocks_[next / kBlockBytes][next % kBlockBytes] == 0)
    next += kBlockBytes - next % kBlockBytes;
  return next;
}

void NameSet::Place(std::uint64_t hash, std::size_t offset) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = static_cast<std::size_t>(hash) & mask;
  while (slots_[at] != 0) at = (at + 1) & mask;
  slots_[at] = (std::uint64_t{offset} + 1) << 32 | Tag(hash);
}

void NameSet::Rebuild(std::size_t slots) {
  slots_.assign(slots, 0);
  for (std::size_t offset = 0; offset < used_; offset = After(offset)) {
    Place(HashOf(NameAt(offset)), offset);
  }
}

bool NameSet::Insert(std::string_view name) {
  if (name.empty() || name.size() > kMaxName) return true;
  if (slots_.empty()) slots_.assign(kFirstSlots, 0);
  const std::uint64_t hash = HashOf(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = static_cast<std::size_t>(hash) & mask; slots_[at] != 0;
       at = (at + 1) & mask) {
    if (static_cast<std::uint32_t>(slots_[at]) == Tag(hash) &&
        NameAt((slots_[at] >> 32) - 1) == name) {
      return false;
    }
  }
  // A name never crosses a block's end.
  std::size_t offset = used_;
  if (offset % kBlockBytes + 1 + name.size() > kBlockBytes) {
    offset += kBlockBytes - offset % kBlockBytes;
  }
  if (offset + 1 + name.size() > kMaxOffset) return true;
  if (offset / kBlockBytes == blocks_.size()) {
    blocks_.push_back(std::make_unique<char[]>(kBlockBytes));  // zeroed
  }
  char* at = blocks_[offset / kBlockBytes].get() + offset % kBlockBytes;
  *at = static_cast<char>(name.size());
  std::memcpy(at + 1, name.data(), name.size());
  used_ = offset + 1 + name.size();
  ++count_;
  if (count_ * 4 > slots_.size() * 3) {
    Rebuild(slots_.size() * 2);
  } else {
    Place(hash, offset);
  }
  return true;
}

void NameSet::TruncateTo(std::size_t mark) {
  if (mark >= used_) return;
  used_ = mark;
  blocks_.resize((mark + kBlockBytes - 1) / kBlockBytes);
  if (mark % kBlockBytes != 0) {
    std::memset(blocks_.back().get() + mark % kBlockBytes, 0, kBlockBytes - mark % kBlockBytes);
  }
  count_ = 0;
  for (std::size_t offset = 0; offset < used_; offset = After(offset)) ++count_;
  Rebuild(slots_.size());
}

std::size_t NameSet::MemoryBytes() const {
  return blocks_.size() * kBlockBytes + slots_.capacity() * sizeof(std::uint64_t);
}

}  // namespace vellomar::merge
