#include "app/privileged_wait.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <thread>
#include <vector>

namespace vellomar::app {
namespace {

class WindowLauncher final : public platform::Launcher {
 public:
  explicit WindowLauncher(std::unique_ptr<platform::Launcher> inner) : inner_(std::move(inner)) {}

  bool Start(const std::vector<std::string>& argv, platform::WindowStyle style,
             const std::string& working_folder) override {
    return inner_->Start(argv, style, working_folder);
  }
  bool ShellOpen(const std::string& target) override { return inner_->ShellOpen(target); }
  std::unique_ptr<platform::ChildProcess> StartWithOutput(const std::vector<std::string>& argv,
                                                          platform::OwnFile& output,
                                                          platform::StartResult& result) override {
    return inner_->StartWithOutput(argv, output, result);
  }

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
      result = inner_->RunPrivileged(argv, input);
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    for (const auto& window : disabled) {
      if (window) window->setEnabled(true);
    }
    return result;
  }

 private:
  std::unique_ptr<platform::Launcher> inner_;
};

}  // namespace

std::unique_ptr<platform::Launcher> WaitingInWindow(std::unique_ptr<platform::Launcher> inner) {
  return std::make_unique<WindowLauncher>(std::move(inner));
}

}  // namespace vellomar::app
