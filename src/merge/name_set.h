#pragma once
// The names a merge has blocked so far, for leaving out the names it blocks again. Kept compact,
// since a merge may block millions: the names side by side in blocks of 1 MiB, each after a byte
// of its length, and a table of open addressing holding, per name, where it starts and a part of
// its hash (8 bytes a slot, at most three quarters full).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace vellomar::merge {

class NameSet {
 public:
  // The longest name kept; a valid host name is at most 253 bytes.
  static constexpr std::size_t kMaxName = 255;

  // Adds `name` (compared byte for byte); false when it was there already. A name longer than
  // kMaxName (or one past the set's 4 GiB of names) is not kept and always counts as new.
  bool Insert(std::string_view name);
  // How much was added so far; TruncateTo takes the set back to such a point.
  std::size_t Mark() const { return used_; }
  void TruncateTo(std::size_t mark);
  std::size_t Size() const { return count_; }
  // The bytes the set holds at present.
  std::size_t MemoryBytes() const;

 private:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  std::string_view NameAt(std::size_t offset) const;
  // The offset of the name after the one at `offset`, skipping the unused end of a block.
  std::size_t After(std::size_t offset) const;
  void Rebuild(std::size_t slots);
  void Place(std::uint64_t hash, std::size_t offset);

  std::vector<std::unique_ptr<char[]>> blocks_;  // zeroed: a 0 length ends a block's names
  std::size_t used_ = 0;                         // block * kBlockBytes + bytes used in it
  std::vector<std::uint64_t> slots_;  // 0: empty; else (offset + 1) << 32 | upper hash bits
  std::size_t count_ = 0;
};

}  // namespace vellomar::merge
