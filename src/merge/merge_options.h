#pragma once
// The options of a merge that a run keeps; the window and the command line set them alike.

#include "merge/address_mode.h"

namespace vellomar::merge {

struct MergeOptions {
  AddressMode mode = kDesignedAddressMode;
  bool dedupe = false;  // names an earlier line blocks are left out (NameRules::dedupe)
  bool pack = false;    // a source's block lines nine names a line (NameRules::pack)

  bool operator==(const MergeOptions&) const = default;
};

}  // namespace vellomar::merge
