// The Win32 window: what it adds to the session and the view, driven through real messages:
// its wiring (buttons, ticks, the address mode box, the menu's commands), its drawing (texts and
// colours as the boxes paint them), the menu over the window and from the keyboard, a drop on
// the report box, and the single instance. Runs under Wine with a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "common/program_fixture.h"
#include "win32/vellomar_window.h"
// clang-format off
#include <commctrl.h>
#include <shlobj.h>
// clang-format on

namespace vellomar::win32 {
namespace {

using testing::HeaderText;
using testing::V;

int g_menus_opened = 0;

LRESULT CALLBACK CountMenus(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && reinterpret_cast<const CWPSTRUCT*>(lparam)->message == WM_INITMENUPOPUP)
    ++g_menus_opened;
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

class Win32WindowTest : public testing::ProgramFixture {
 protected:
  Win32WindowTest() {
    Source("H_0Header.txt", HeaderText("2026-12-01"));
    Source("H_1Ads.txt", "0.0.0.0 a.example\n");
    Source("H_2Trackers.txt", "127.0.0.1 t.example\n");
    SetHosts(HeaderText("2026-01-01") + "# [Start of H_2Trackers.txt entries]\n");
  }
  ~Win32WindowTest() override { window.reset(); }

  void Load() {
    window = StartWindow(Env(), P("vellomar.exe"), lock);
    ASSERT_NE(window, nullptr);
  }
  HWND C(std::string_view name) const { return window->Control(name); }
  std::string Text(std::string_view name) const {
    char text[4096] = {};
    ::GetWindowTextA(C(name), text, sizeof(text));
    return text;
  }
  // The background a box paints with, as the window answers its colour message.
  COLORREF Colour(std::string_view name) const {
    HDC dc = ::GetDC(C(name));
    ::SendMessageW(window->hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(C(name)));
    const COLORREF colour = ::GetBkColor(dc);
    ::ReleaseDC(C(name), dc);
    return colour;
  }
  V Ticked() const {
    V names;
    for (std::size_t i = 0; i < window->session().Entries().size(); ++i) {
      char name[260] = {};
      LVITEMA item{};
      item.pszText = name;
      item.cchTextMax = sizeof(name);
      ::SendMessageA(C("MergeList"), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
      if (ListView_GetCheckState(C("MergeList"), static_cast<int>(i)) != 0) names.push_back(name);
    }
    return names;
  }
  // A press and release of the left button over the middle of an entry's name.
  void ClickEntry(int row) {
    RECT label{};
    ListView_GetItemRect(C("MergeList"), row, &label, LVIR_LABEL);
    const LPARAM at = MAKELPARAM((label.left + label.right) / 2, (label.top + label.bottom) / 2);
    ::SendMessageW(C("MergeList"), WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(C("MergeList"), WM_LBUTTONUP, 0, at);
  }
  void Command(std::string_view item) {
    ::SendMessageW(window->hwnd(), WM_COMMAND, static_cast<WPARAM>(MenuId(item)), 0);
  }
  // How many menus `act` opened; each is closed again at once.
  int MenusOpenedBy(const std::function<void()>& act) {
    g_menus_opened = 0;
    HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, CountMenus, nullptr, ::GetCurrentThreadId());
    const UINT_PTR timer =
        ::SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR, DWORD) { ::EndMenu(); });
    act();
    ::KillTimer(nullptr, timer);
    ::UnhookWindowsHookEx(hook);
    return g_menus_opened;
  }

  std::unique_ptr<platform::InstanceLock> lock;
  std::unique_ptr<VellomarWindow> window;
};

// Start-up merges and ticks what the installed file names; the controls carry the view's
// texts and colours; "Write to HOSTS" installs with the backup and turns the boxes green.
TEST_F(Win32WindowTest, StartsMergesAndInstallsOnWriteToHosts) {
  Load();
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_2Trackers.txt"}));
  EXPECT_EQ(Text("CreateMergedHosts"), "Write to HOSTS");
  EXPECT_EQ(Colour("MergedVersionText"), RGB(255, 255, 0));  // the dates differ
  EXPECT_NE(Text("MergedHostsFileInfo").find("Lines - len:"), std::string::npos);
  const std::string old_hosts = Hosts();
  ::SendMessageW(C("CreateMergedHosts"), BM_CLICK, 0, 0);
  EXPECT_EQ(Hosts(), Merged());
  EXPECT_EQ(testing::ReadFile(Sys("hosts.ZRB")), old_hosts);
  EXPECT_EQ(Colour("InformationText"), RGB(0, 255, 0)) << Text("InformationText");
  EXPECT_EQ(Colour("MergedVersionText"), ::GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(Text("CreateMergedHosts"), "Write to HOSTS");
  // A second start of the same program only beeps.
  std::unique_ptr<platform::InstanceLock> second_lock;
  EXPECT_EQ(StartWindow(Env(), P("vellomar.exe"), second_lock), nullptr);
}

// A click on an entry's name ticks it and merges; the address mode box follows left clicks
// (never grey) and right clicks (the mode toggled, no menu).
TEST_F(Win32WindowTest, TicksAndTheAddressModeBoxReachTheSession) {
  Load();
  ClickEntry(1);
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1Ads.txt", "H_2Trackers.txt"}));
  EXPECT_TRUE(testing::Contains(Merged(), "0.0.0.0 a.example"));
  EXPECT_TRUE(testing::Contains(Merged(), "0.0.0.0 t.example"));  // grey: 127 becomes 0.0.0.0
  ClickEntry(1);
  EXPECT_FALSE(testing::Contains(Merged(), "a.example"));
  EXPECT_EQ(Text("Use_127"), "Use 0.0.0.0");
  ::SendMessageW(C("Use_127"), BM_CLICK, 0, 0);
  EXPECT_EQ(window->session().Mode(), merge::AddressMode::kUse127);
  EXPECT_EQ(::SendMessageW(C("Use_127"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(MenusOpenedBy([&] {
              ::SendMessageW(C("Use_127"), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(2, 2));
            }),
            0);
  EXPECT_EQ(window->session().Mode(), merge::ToggledAddressMode(merge::AddressMode::kUse127));
}

// The menu opens on a right click over the window and from the keyboard, never on a left click
// or over an enabled control; its commands reach the session; Exit removes the capture files.
TEST_F(Win32WindowTest, TheMenuOpensWhereItShouldAndItsCommandsWork) {
  Load();
  HWND hwnd = window->hwnd();
  EXPECT_EQ(MenusOpenedBy([&] { ::SendMessageW(hwnd, WM_RBUTTONDOWN, MK_RBUTTON, 0); }), 1);
  EXPECT_EQ(MenusOpenedBy([&] { ::SendMessageW(hwnd, WM_CONTEXTMENU, 0, -1); }), 1);
  EXPECT_EQ(MenusOpenedBy([&] { ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0); }), 0);
  EXPECT_EQ(MenusOpenedBy([&] {
              ::SendMessageW(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(C("FileList")),
                             MAKELPARAM(10, 10));
            }),
            0);
  Command("Mnu_Dedupe");  // checkable: each choice turns the option over, and merges again
  EXPECT_TRUE(window->session().MergeSettings().dedupe);
  ASSERT_FALSE(window->session().Information().addenda.empty());
  EXPECT_EQ(window->session().Information().addenda.back().kind,
            session::Addendum::Kind::kDuplicatesLeftOut);
  Command("Mnu_Dedupe");
  EXPECT_FALSE(window->session().MergeSettings().dedupe);
  Command("Mnu_HostFileUpdate");
  EXPECT_EQ(Hosts(), Merged());
  Command("Mnu_WebLink");
  ASSERT_FALSE(launcher.records.empty());
  EXPECT_EQ(launcher.records.back().argv, (V{std::string(view::kWebLinkAddress)}));
  Command("Mnu_EnableDnD");  // greyed: nothing happens
  testing::WriteFile(P("displaydns.txt"), "x");
  Command("Mnu_Exit");
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_FALSE(platform::FileExists(P("displaydns.txt")));
}

// "Find a Name" asks in a dialog made in memory and answers in the status line; Cancel changes
// nothing. A timer in the dialog's own message loop types the answer (nullptr: Cancel).
const wchar_t* g_answer = nullptr;

TEST_F(Win32WindowTest, FindANameAsksAndAnswersInTheStatusLine) {
  MSG quit;  // a window closed by an earlier test leaves the quit that would end the dialog's loop
  while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0) {
  }
  Load();
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = ::FindWindowW(L"#32770", L"Find a Name");
    if (dialog == nullptr || !::IsWindowVisible(dialog)) return;
    if (g_answer) ::SetWindowTextW(::FindWindowExW(dialog, nullptr, L"Edit", nullptr), g_answer);
    ::PostMessageW(dialog, WM_COMMAND, g_answer != nullptr ? IDOK : IDCANCEL, 0);
  });
  for (const auto& [answer, status] : std::vector<std::pair<const wchar_t*, std::string>>{
           {L" A.example ", "a.example: blocked by H_1Ads.txt:1"},
           {nullptr, "a.example: blocked by H_1Ads.txt:1"},
           {L"nobody.example", "nobody.example: no source maps it"}}) {
    g_answer = answer;
    Command("Mnu_FindName");
    EXPECT_EQ(Text("InformationText"), status);
  }
  ::KillTimer(nullptr, timer);
}

// Places come from the table's twips at the window's dots per inch, and follow a change of it.
TEST_F(Win32WindowTest, LaysOutFromTwipsAtTheScreensDotsPerInch) {
  Load();
  const auto place = [&](std::string_view name) {
    RECT rect{};
    ::GetWindowRect(C(name), &rect);
    ::MapWindowPoints(nullptr, window->hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    return std::array{rect.left, rect.top, rect.bottom - rect.top};
  };
  for (const UINT dpi : {96u, 144u, 96u}) {
    RECT suggested{0, 0, 10, 10};
    ::SendMessageW(window->hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
    const auto px = [dpi](int twips) { return static_cast<LONG>(::MulDiv(twips, dpi, 1440)); };
    EXPECT_EQ(place("MergeList"), (std::array{px(270), px(1980), px(2085)})) << dpi;
    EXPECT_EQ(place("InformationText"), (std::array{px(300), px(4560), px(285)})) << dpi;
    RECT client{};
    ::GetClientRect(window->hwnd(), &client);
    EXPECT_EQ(client.bottom, px(view::kClientHeight)) << dpi;
  }
}

// A file dropped on the report box is shown in it; a double click hides the box again.
TEST_F(Win32WindowTest, AFileDroppedOnTheReportBoxIsShown) {
  Load();
  testing::WriteFile(P("report.txt"), "line one\nline two\n");
  const std::string path = P("report.txt");
  HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  std::copy(path.begin(), path.end(), reinterpret_cast<char*>(drop + 1));
  ::GlobalUnlock(memory);
  HWND box = C("DisplayDnsText");
  ::SendMessageW(box, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  EXPECT_EQ(Text("DisplayDnsText"), "line one\r\nline two\r\n");
  ::ShowWindow(box, SW_SHOW);
  ::SendMessageW(box, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
  EXPECT_FALSE(::IsWindowVisible(box));
  EXPECT_EQ(Text("DisplayDnsText"), "");
}

// vellomar.exe itself, copied into a portable folder with sources: it merges at start-up, ticks
// again what the installed file names, and a click on "Write to HOSTS" installs into this Wine
// prefix's hosts file, keeping the backup.
TEST(Win32Program, APortableCopyInstallsIntoTheSystemHostsFile) {
  testing::TempDir folder;
  char built[MAX_PATH];
  ASSERT_NE(::GetFullPathNameA(VELLOMAR_WINDOW_PROGRAM, MAX_PATH, built, nullptr), 0u);
  ASSERT_TRUE(::CopyFileA(built, folder.File("vellomar.exe").c_str(), FALSE));
  ::CreateDirectoryA(folder.File("Hostfiles").c_str(), nullptr);
  // Windows' line end throughout: the installed file's start marker is read as a line of its own.
  const auto crlf = [](std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
      text.insert(at, 1, '\r');
    }
    return text;
  };
  testing::WriteFile(folder.File("Hostfiles/H_0Header.txt"), crlf(HeaderText("2026-12-01")));
  testing::WriteFile(folder.File("Hostfiles/H_1Ads.txt"), "0.0.0.0 ads.example\r\n");
  const std::string hosts = platform::FirstExisting(platform::HostsCandidates());
  ASSERT_FALSE(hosts.empty());
  const std::string old_hosts =
      crlf(HeaderText("2026-01-01") + "# [Start of H_1Ads.txt entries]\n");
  testing::WriteFile(hosts, old_hosts);
  ::DeleteFileA((hosts + ".ZRB").c_str());

  std::string command = "\"" + folder.File("vellomar.exe") + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
  ::WaitForInputIdle(process.hProcess, 30000);
  HWND window = nullptr;
  for (int i = 0; i < 300 && window == nullptr; ++i) {
    ::Sleep(100);
    window = ::FindWindowW(kWindowClass, nullptr);
  }
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(platform::FileExists(folder.File("M_Hosts.txt")));
  ::SendMessageW(::GetDlgItem(window, ControlId("CreateMergedHosts")), BM_CLICK, 0, 0);
  // The installed file named the source: it was ticked again, merged and installed.
  EXPECT_TRUE(testing::Contains(testing::ReadFile(hosts), "0.0.0.0 ads.example\r\n"));
  EXPECT_EQ(testing::ReadFile(hosts), testing::ReadFile(folder.File("M_Hosts.txt")));
  EXPECT_EQ(testing::ReadFile(hosts + ".ZRB"), old_hosts);
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
}

}  // namespace
}  // namespace vellomar::win32
