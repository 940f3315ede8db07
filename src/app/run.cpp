#include "app/run.h"

#include <QApplication>

#include "app/vellomar_form.h"

namespace vellomar::app {

std::unique_ptr<VellomarForm> Start(const Environment& env, const std::string& program_path,
                                    std::unique_ptr<platform::InstanceLock>& lock) {
  platform::LockResult taken = platform::TakeInstanceLock(program_path);
  if (taken.kind == platform::LockResult::Kind::kHeldByOther) {
    QApplication::beep();
    return nullptr;
  }
  lock = std::move(taken.lock);
  auto form = std::make_unique<VellomarForm>(env);
  form->Form_Load();
  if (taken.kind == platform::LockResult::Kind::kUnavailable) {
    // The program runs all the same; the user learns that a second start is not held back.
    form->AddNotice("no single-instance lock: " + taken.reason);
  }
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
