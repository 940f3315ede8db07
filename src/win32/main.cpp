// vellomar.exe: the window on Windows.
#include "platform/platform.h"
#include "win32/vellomar_window.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  return vellomar::win32::RunWindow(vellomar::platform::ProgramPath());
}
