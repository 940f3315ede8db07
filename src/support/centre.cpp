#include "support/centre.h"

namespace vellomar::support {

Position CentredPosition(float screen_width, float screen_height, float window_width,
                         float window_height) {
  return {screen_width / 2.0f - window_width / 2.0f, screen_height / 2.0f - window_height / 2.0f};
}

}  // namespace vellomar::support
