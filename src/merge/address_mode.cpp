#include "merge/address_mode.h"

namespace vellomar::merge {

std::string_view AddressModeCaption(AddressMode mode) {
  switch (mode) {
    case AddressMode::kUse127:
      return "Use 127.0.0.1";
    case AddressMode::kUse0000:
      return "Use 0.0.0.0";
    case AddressMode::kNoChange:
      break;
  }
  // The leading blank is part of the caption, not padding.
  return " No Change";
}

AddressMode ToggledAddressMode(AddressMode mode) {
  return mode == AddressMode::kUse127 ? AddressMode::kUse0000 : AddressMode::kUse127;
}

bool IsBlockAddress(std::string_view address) {
  return address == "0.0.0.0" || address == "127.0.0.1" || address == "::" || address == "::1";
}

bool LooksLikeAddress(std::string_view field) {
  if (field.find(':') != std::string_view::npos) {
    return field.find_first_not_of("0123456789abcdefABCDEF:.") == std::string_view::npos;
  }
  int dots = 0;
  std::size_t digits = 0;
  for (const char c : field) {
    if (c >= '0' && c <= '9' && ++digits <= 3) continue;
    if (c != '.' || digits == 0) return false;
    ++dots;
    digits = 0;
  }
  return dots == 3 && digits > 0;
}

}  // namespace vellomar::merge
