#include "app/run.h"

#include <QApplication>

#include "app/vellomar_form.h"

namespace vellomar::app {

std::unique_ptr<VellomarForm> Start(const Environment& env, const std::string& program_path,
                                    std::unique_ptr<platform::InstanceLock>& lock) {
  lock = platform::AcquireInstanceLock(program_path);
  if (!lock) {
    QApplication::beep();
    return nullptr;
  }
  auto form = std::make_unique<VellomarForm>(env);
  form->Form_Load();
  form->show();
  return form;
}

int Run(QApplication& application, const Environment& env, const std::string& program_path) {
  std::unique_ptr<platform::InstanceLock> lock;
  const auto form = Start(env, program_path, lock);
  if (!form) return 0;
  return application.exec();
}

}  // namespace vellomar::app
