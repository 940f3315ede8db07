#include "app/privileged_wait.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <thread>
#include <vector>

namespace vellomar::app {
namespace {

class WindowLauncher final : public platform::ForwardingLauncher {
 public:
  using ForwardingLauncher::ForwardingLauncher;

  platform::RunResult RunPrivileged(const std::vector<std::string>& argv,
                                    std::string_view input) override {
    std::vector<QPointer<QWidget>> disabled;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (!window->isEnabled()) continue;
      window->setEnabled(false);
      disabled.emplace_back(window);
    }
    QEventLoop loop;
    platform::RunResult result;
    // The worker only runs the process; the session and every widget stay on this thread.
    std::thread worker([&] {
      result = ForwardingLauncher::RunPrivileged(argv, input);
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    for (const auto& window : disabled) {
      if (window) window->setEnabled(true);
    }
    return result;
  }
};

}  // namespace

std::unique_ptr<platform::Launcher> WaitingInWindow(std::unique_ptr<platform::Launcher> inner) {
  return std::make_unique<WindowLauncher>(std::move(inner));
}

}  // namespace vellomar::app
