// The window program's start: the launcher that keeps the window drawing while an install waits
// for the administrator's consent, the single-instance rule and the message loop.
// windows.h first: the common controls' header builds on it.
#include "win32/vellomar_window.h"
// clang-format off
#include <commctrl.h>
// clang-format on

#include <thread>

namespace vellomar::win32 {
namespace {

class WindowLauncher final : public platform::ForwardingLauncher {
 public:
  using ForwardingLauncher::ForwardingLauncher;

  // The install runs beside this thread's messages.
  platform::RunResult RunPrivileged(const std::vector<std::string>& argv,
                                    std::string_view input) override {
    platform::RunResult result;
    RunBesideMessages([&] { result = ForwardingLauncher::RunPrivileged(argv, input); });
    return result;
  }
};

}  // namespace

void RunBesideMessages(const std::function<void()>& work) {
  std::vector<HWND> disabled;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM list) -> BOOL {
        if (::IsWindowVisible(window) != 0 && ::IsWindowEnabled(window) != 0) {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&disabled));
  for (HWND window : disabled) ::EnableWindow(window, FALSE);
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    work();
    ::SetEvent(done);
  });
  while (::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
      if (message.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(message.wParam));  // for the main loop, later
        break;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  worker.join();
  ::CloseHandle(done);
  for (HWND window : disabled) {
    if (::IsWindow(window) != 0) ::EnableWindow(window, TRUE);
  }
}

fetch::HttpGetter FetchingInWindow(fetch::HttpGetter get) {
  return [get = std::move(get)](const platform::HttpRequest& request,
                                const platform::HttpBodySink& sink) {
    platform::HttpReply reply;
    RunBesideMessages([&] { reply = get(request, sink); });
    return reply;
  };
}

std::unique_ptr<VellomarWindow> StartWindow(session::Environment env,
                                            const std::string& program_path,
                                            std::unique_ptr<platform::InstanceLock>& lock) {
  platform::LockResult taken = platform::TakeInstanceLock(program_path);
  if (taken.kind == platform::LockResult::Kind::kHeldByOther) {
    ::MessageBeep(MB_OK);
    return nullptr;
  }
  lock = std::move(taken.lock);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES |
                                                      ICC_BAR_CLASSES | ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);
  auto window = std::make_unique<VellomarWindow>(std::move(env));
  if (window->hwnd() == nullptr) return nullptr;
  window->Form_Load();
  if (taken.kind == platform::LockResult::Kind::kUnavailable) {
    // The program runs all the same; the user learns that a second start is not held back.
    window->AddNotice("no single-instance lock: " + taken.reason);
  }
  ::ShowWindow(window->hwnd(), SW_SHOWNORMAL);
  ::UpdateWindow(window->hwnd());
  return window;
}

int RunWindow(const std::string& program_path) {
  const auto launcher = std::make_unique<WindowLauncher>(platform::CreateSystemLauncher());
  session::Environment env = session::SystemEnvironment(*launcher);
  // An install that finds another under way says so at once: the window never waits on the
  // lock in its message loop.
  env.install_lock.wait_ms = 0;
  env.http_get = FetchingInWindow(env.http_get);
  std::unique_ptr<platform::InstanceLock> lock;
  const auto window = StartWindow(std::move(env), program_path, lock);
  if (!window) return 0;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab and the arrow keys move between the controls, as in a dialog.
    if (::IsDialogMessageW(window->hwnd(), &message) != 0) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace vellomar::win32
