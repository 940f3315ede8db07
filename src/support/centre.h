#pragma once
// Centring arithmetic for top-level windows.

namespace vellomar::support {

struct Position {
  float left = 0;
  float top = 0;
};

// Where a window of the given outer size stands when centred on the screen, computed in
// single precision as the window runtime does. A window larger than the screen gets a
// negative edge.
Position CentredPosition(float screen_width, float screen_height, float window_width,
                         float window_height);

}  // namespace vellomar::support
