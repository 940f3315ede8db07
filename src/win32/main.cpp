// vellomar.exe: the window on Windows.
#include <clocale>

#include "platform/platform.h"
#include "win32/vellomar_window.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  std::setlocale(LC_ALL, "");  // the date form of "#CREATEDDATE#", as the command line writes it
  return vellomar::win32::RunWindow(vellomar::platform::ProgramPath());
}
