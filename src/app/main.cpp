#include <QApplication>

#include "app/run.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const auto launcher = vellomar::platform::CreateSystemLauncher();
  return vellomar::app::Run(application, vellomar::app::SystemEnvironment(*launcher),
                            vellomar::platform::ProgramPath());
}
