#pragma once
// The address mode: which block address the merged file uses.

#include <string_view>

namespace vellomar::merge {

enum class AddressMode : int {
  kNoChange = 0,  // addresses copied as they are
  kUse127 = 1,    // every "0.0.0.0" becomes "127.0.0.1"
  kUse0000 = 2,   // every "127.0.0.1" becomes "0.0.0.0"
};

// The mode the window's check box holds before start-up sets the one a run works with.
inline constexpr AddressMode kDesignedAddressMode = AddressMode::kUse127;
// The mode a run works with from start-up (setting it there builds the first merged file), and
// the command line's default.
inline constexpr AddressMode kDefaultAddressMode = AddressMode::kUse0000;

// The caption of the mode's check box: " No Change", "Use 127.0.0.1" or "Use 0.0.0.0".
std::string_view AddressModeCaption(AddressMode mode);

// The mode a right press gives: kUse127 becomes kUse0000, anything else becomes kUse127.
AddressMode ToggledAddressMode(AddressMode mode);

// Whether `address` is one that block lists map names to: 0.0.0.0, 127.0.0.1, :: or ::1.
bool IsBlockAddress(std::string_view address);

// Whether the first field of a hosts line looks like an address, as the merge takes one: IPv4 in
// dotted decimal, or hex digits, colons and dots with a colon among them (IPv6).
bool LooksLikeAddress(std::string_view field);

}  // namespace vellomar::merge
