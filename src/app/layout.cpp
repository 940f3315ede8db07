#include "app/layout.h"

#include <algorithm>

namespace vellomar::app {

TwipRect DnsBoxLayout(int outer_width, int outer_height) {
  constexpr int kLeft = 30;
  constexpr int kTop = 60;
  return {kLeft, kTop, std::max(0, outer_width - 2 * kLeft - 120),
          std::max(0, outer_height - kTop - 525)};
}

}  // namespace vellomar::app
