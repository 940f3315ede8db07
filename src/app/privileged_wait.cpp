#include "app/privileged_wait.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <thread>
#include <utility>
#include <vector>

namespace vellomar::app {
namespace {

class WindowLauncher final : public platform::ForwardingLauncher {
 public:
  using ForwardingLauncher::ForwardingLauncher;

  platform::RunResult RunPrivileged(const std::vector<std::string>& argv,
                                    std::string_view input) override {
    platform::RunResult result;
    RunBesideEvents([&] { result = ForwardingLauncher::RunPrivileged(argv, input); });
    return result;
  }
};

}  // namespace

void RunBesideEvents(const std::function<void()>& work) {
  std::vector<QPointer<QWidget>> disabled;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isEnabled()) continue;
    window->setEnabled(false);
    disabled.emplace_back(window);
  }
  QEventLoop loop;
  // The worker only runs the work; the session and every widget stay on this thread.
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  for (const auto& window : disabled) {
    if (window) window->setEnabled(true);
  }
}

std::unique_ptr<platform::Launcher> WaitingInWindow(std::unique_ptr<platform::Launcher> inner) {
  return std::make_unique<WindowLauncher>(std::move(inner));
}

fetch::HttpGetter FetchingInWindow(fetch::HttpGetter get) {
  return [get = std::move(get)](const platform::HttpRequest& request,
                                const platform::HttpBodySink& sink) {
    platform::HttpReply reply;
    RunBesideEvents([&] { reply = get(request, sink); });
    return reply;
  };
}

}  // namespace vellomar::app
