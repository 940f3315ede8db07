#include "app/environment.h"

namespace vellomar::app {

std::string WindowTitle(int major, int minor, int revision) {
  return "Vellomar - v" + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(revision);
}

}  // namespace vellomar::app
