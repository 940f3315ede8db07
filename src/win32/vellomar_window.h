#pragma once
// The main window on Windows, with the Win32 API and the common controls: the controls of the
// view's table, their events handed to the session, and the view's content drawn back. No rule
// lives here.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "session/session.h"
#include "view/window.h"

namespace vellomar::win32 {

// The child window id of the control of the view's table at `index` (GetDlgItem finds it).
inline constexpr int kFirstControlId = 1000;
// The command id of the menu item of the view's menu at `index`, as WM_COMMAND carries it.
inline constexpr int kFirstMenuId = 100;
// The window class, which a second start and the tests look for.
inline constexpr const wchar_t* kWindowClass = L"VellomarForm";

int ControlId(std::string_view name);
int MenuId(std::string_view name);

class VellomarWindow {
 public:
  // Creates the window (not yet shown) over a session of `env`.
  explicit VellomarWindow(session::Environment env);
  ~VellomarWindow();
  VellomarWindow(const VellomarWindow&) = delete;
  VellomarWindow& operator=(const VellomarWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  session::Session& session() { return session_; }
  HWND Control(std::string_view name) const;

  // Start-up: the title, the session's start-up, the controls drawn, the window centred.
  void Form_Load();
  // Adds a note to the end of the status line, keeping its colour.
  void AddNotice(const std::string& text);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR id, DWORD_PTR self);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  // A control's own mouse and drop events; true when handled here.
  bool HandleControl(HWND control, UINT message, WPARAM wparam, LPARAM lparam);

  void CreateControls();
  void LayOut();  // every control at the window's dots per inch
  void Draw();
  void DrawSummary(HWND summary, const std::string& text);
  void DrawStatus(const view::WindowContent& content);
  // Adds (TTM_ADDTOOLW) or changes (TTM_UPDATETIPTEXTW) the tool tip of a control.
  void SetTip(HWND control, std::wstring tip, UINT message);
  HBRUSH BrushFor(HWND control, HDC dc);
  int Px(int twips) const;

  // Handlers.
  void Form_Resize();
  void Form_MouseDown(int button);
  void Form_Unload();
  void Form_OLEDragDrop(const std::vector<std::string>& files);
  void LoadMenu();
  void ShowMenu(POINT at);
  void MenuCommand(int id);
  void MergeList_ItemChanged(int row, bool ticked);
  void MergeList_Toggle(int row);
  void FileList_Click();
  void FileList_DblClick();
  void Use_127_Click();
  void Use_127_MouseDown(int button);
  void AutoFlushDns_MouseDown(int shift);
  void GetHostVersion(session::Sides sides);
  void DoFlush();
  // The menu's update of the sources from the web, its progress in the status line.
  void UpdateSourcesFromWeb();
  // Asks for a name and shows in the status line which sources and whether the hosts file map
  // it; a cancelled or empty answer does nothing.
  void FindName();
  void DoDnsDisplay();
  // Installs as the write button or the menu does (`merge` first for the button); when the
  // hosts file's entries of the user's own hold the install back, asks, and installs on yes.
  void Install(bool merge, bool auto_flush);
  void DeleteTimer_Timer();
  void DisplayDnsText_DblClick();
  void DisplayDnsText_OLEDragDrop(const std::vector<std::string>& files);

  session::Session session_;
  HWND hwnd_ = nullptr;
  HWND tips_ = nullptr;
  std::array<HWND, 14> controls_{};
  std::array<view::ColourRole, 14> colours_{};
  HFONT dialog_font_ = nullptr;
  HFONT fixed_font_ = nullptr;
  std::array<HBRUSH, 4> brushes_{};
  UINT dpi_ = 96;
  int extra_width_ = 0;  // twips the window grew by for long summaries
  std::size_t drawn_generation_ = static_cast<std::size_t>(-1);
  bool drawing_ = false;  // the program's own drawing of ticks is no change of the user's
  HMENU menu_ = nullptr;  // made and loaded on first use
  std::vector<bool> menu_ticks_;
  bool show_dns_enabled_ = true;
  bool fetching_ = false;  // progress posted by a fetch is drawn only while it runs
};

// Runs `work` on a worker thread while this thread's windows are disabled (they draw, but take
// no click, so nothing can be started twice) and their messages are handled; returns when the
// work is done. The work must not touch windows; it may post to them.
void RunBesideMessages(const std::function<void()>& work);

// Wraps `get`: each fetch runs as RunBesideMessages runs work, its body handed over on the
// worker.
fetch::HttpGetter FetchingInWindow(fetch::HttpGetter get);

// Starts the window over `env`: one instance per program (a second start beeps and gives
// nullptr), loaded and shown. `lock` holds the instance lock for the window's life.
std::unique_ptr<VellomarWindow> StartWindow(session::Environment env,
                                            const std::string& program_path,
                                            std::unique_ptr<platform::InstanceLock>& lock);

// The program: the system's environment, the window, the message loop until it is closed.
// Returns the process's exit status.
int RunWindow(const std::string& program_path);

}  // namespace vellomar::win32
