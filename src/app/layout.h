#pragma once
// Layout arithmetic of the main window, in twips (1/1440 inch; 15 twips are one pixel at
// 96 dots per inch).

namespace vellomar::app {

inline constexpr int kTwipsPerPixel = 15;

struct TwipRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Where the DNS report box stands in a window of the given outer size: left 30, top 60, the
// outer width less 180 and the outer height less 585. A window too small for the box gives a
// zero width or height, never a negative one.
TwipRect DnsBoxLayout(int outer_width, int outer_height);

}  // namespace vellomar::app
