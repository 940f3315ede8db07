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

}  // namespace vellomar::merge
