#include "merge/name_set.h"

#include <functional>

namespace vellomar::merge {
namespace {

constexpr std::size_t kFirstSlots = 1024;

std::uint64_t HashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }

std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

}  // namespace

std::string_view NameSet::NameAt(std::size_t offset) const {
  const auto size = static_cast<unsigned char>(names_[offset]);
  return std::string_view(names_).substr(offset + 1, size);
}

void NameSet::Place(std::uint64_t hash, std::uint32_t offset) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = static_cast<std::size_t>(hash) & mask;
  while (slots_[at] != 0) at = (at + 1) & mask;
  slots_[at] = (std::uint64_t{offset} + 1) << 32 | Tag(hash);
}

void NameSet::Grow(std::size_t slots) {
  slots_.assign(slots, 0);
  for (std::size_t offset = 0; offset < names_.size();) {
    const std::string_view name = NameAt(offset);
    Place(HashOf(name), static_cast<std::uint32_t>(offset));
    offset += 1 + name.size();
  }
}

bool NameSet::Insert(std::string_view name) {
  // Offsets are kept in 32 bits: a set that would pass them keeps no more names.
  if (name.size() > kMaxName || names_.size() + 1 + name.size() > UINT32_MAX) return true;
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
  const auto offset = static_cast<std::uint32_t>(names_.size());
  names_.push_back(static_cast<char>(name.size()));
  names_.append(name);
  ++count_;
  // At most half full, so that a search ends soon.
  if (count_ * 2 > slots_.size()) {
    Grow(slots_.size() * 2);
  } else {
    Place(hash, offset);
  }
  return true;
}

void NameSet::TruncateTo(std::size_t mark) {
  if (mark >= names_.size()) return;
  names_.resize(mark);
  count_ = 0;
  for (std::size_t offset = 0; offset < names_.size(); offset += 1 + NameAt(offset).size()) {
    ++count_;
  }
  Grow(slots_.size());
}

std::size_t NameSet::MemoryBytes() const {
  return names_.capacity() + slots_.capacity() * sizeof(std::uint64_t);
}

}  // namespace vellomar::merge
