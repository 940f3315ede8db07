#include "win32/vellomar_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <optional>

#include "platform/platform.h"
#include "support/centre.h"
#include "support/file_reader.h"
#include "view/status_text.h"

namespace vellomar::win32 {
namespace {

constexpr UINT_PTR kDeleteTimer = 1;
constexpr UINT_PTR kSubclassId = 1;
// Posted by a fetch's worker: lparam owns a std::string, the progress text for the status line.
constexpr UINT kFetchProgress = WM_APP + 1;

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// The program's texts end their lines with LF or CR LF; an edit box breaks lines at CR LF only.
std::wstring BoxText(std::string_view text) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
    lines += text[i];
  }
  return Wide(lines);
}

std::wstring TextOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

void SetText(HWND control, const std::wstring& text) {
  if (TextOf(control) != text) ::SetWindowTextW(control, text.c_str());
}

int TextWidth(HWND control, HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(control);
  const HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return size.cx;
}

// The text with its middle cut out to fit `room` pixels: the start and the end, where the
// reason stands, stay.
std::wstring ElideMiddle(HWND control, HFONT font, const std::wstring& text, int room) {
  if (TextWidth(control, font, text) <= room) return text;
  std::size_t keep = text.size();
  while (keep > 0) {
    --keep;
    const std::size_t head = (keep + 1) / 2;
    std::wstring shown = text.substr(0, head) + L"\u2026" + text.substr(text.size() - keep / 2);
    if (TextWidth(control, font, shown) <= room) return shown;
  }
  return L"\u2026";
}

std::vector<std::string> DroppedFiles(HDROP drop) {
  std::vector<std::string> files;
  const UINT count = ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::string name(::DragQueryFileA(drop, i, nullptr, 0) + 1, '\0');
    name.resize(::DragQueryFileA(drop, i, name.data(), static_cast<UINT>(name.size())));
    files.push_back(std::move(name));
  }
  ::DragFinish(drop);
  return files;
}

std::size_t IndexOf(std::string_view name) {
  const auto controls = view::Controls();
  return static_cast<std::size_t>(
      std::find_if(controls.begin(), controls.end(),
                   [&](const view::ControlEntry& described) { return described.name == name; }) -
      controls.begin());
}

UINT ButtonState(view::TickState tick) {
  return tick == view::TickState::kTicked   ? BST_CHECKED
         : tick == view::TickState::kGrayed ? BST_INDETERMINATE
                                            : BST_UNCHECKED;
}

view::TickState TickOf(LRESULT state) {
  return state == BST_CHECKED         ? view::TickState::kTicked
         : state == BST_INDETERMINATE ? view::TickState::kGrayed
                                      : view::TickState::kUnticked;
}

COLORREF ColourOf(view::ColourRole role) {
  switch (role) {
    case view::ColourRole::kYellow:
      return RGB(255, 255, 0);
    case view::ColourRole::kRed:
      return RGB(255, 0, 0);
    case view::ColourRole::kGreen:
      return RGB(0, 255, 0);
    case view::ColourRole::kWindow:
      break;
  }
  return ::GetSysColor(COLOR_WINDOW);
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(std::max(size, 0)), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
  return narrow;
}

// The id of the answer's edit box in the name question.
constexpr WORD kAnswerId = 200;

// A dialog template built in memory, the DLGTEMPLATE layout word by word: no resource needed.
class DialogTemplate {
 public:
  DialogTemplate(std::wstring_view title, short width, short height, WORD items) {
    Long(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Long(0);
    words_.push_back(items);
    for (const short value : {short{0}, short{0}, width, height}) words_.push_back(Word(value));
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the standard dialog class
    Text(title);
    words_.push_back(8);
    Text(L"MS Shell Dlg");
  }
  // A control of a predefined class (0x80 button, 0x81 edit, 0x82 static).
  void Add(WORD class_atom, DWORD style, std::array<short, 4> place, WORD id,
           std::wstring_view text) {
    if (words_.size() % 2 != 0) words_.push_back(0);  // each item starts on a DWORD
    Long(style | WS_CHILD | WS_VISIBLE);
    Long(0);
    for (const short value : place) words_.push_back(Word(value));
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(class_atom);
    Text(text);
    words_.push_back(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  static WORD Word(short value) { return static_cast<WORD>(value); }
  void Long(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void Text(std::wstring_view text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }
  std::vector<WORD> words_;
};

INT_PTR CALLBACK AskProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    ::SendDlgItemMessageW(dialog, kAnswerId, EM_LIMITTEXT, 253, 0);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  const int id = LOWORD(wparam);
  if (id == IDOK) {
    auto* answer = reinterpret_cast<std::wstring*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    *answer = TextOf(::GetDlgItem(dialog, kAnswerId));
  }
  if (id == IDOK || id == IDCANCEL) ::EndDialog(dialog, id);
  return TRUE;
}

// Asks for a line of text in a small modal dialog: the answer, or nullopt when cancelled.
std::optional<std::wstring> AskForText(HWND owner, std::wstring_view title,
                                       std::wstring_view prompt) {
  DialogTemplate dialog(title, 240, 66, 4);
  dialog.Add(0x0082, SS_LEFT, {7, 7, 226, 10}, 0xFFFF, prompt);
  dialog.Add(0x0081, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, {7, 21, 226, 14}, kAnswerId, L"");
  dialog.Add(0x0080, BS_DEFPUSHBUTTON | WS_TABSTOP, {129, 43, 50, 14}, IDOK, L"OK");
  dialog.Add(0x0080, BS_PUSHBUTTON | WS_TABSTOP, {183, 43, 50, 14}, IDCANCEL, L"Cancel");
  std::wstring answer;
  const INT_PTR chosen = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialog.Get(), owner,
                                                   AskProc, reinterpret_cast<LPARAM>(&answer));
  if (chosen != IDOK) return std::nullopt;
  return answer;
}

}  // namespace

int ControlId(std::string_view name) { return kFirstControlId + static_cast<int>(IndexOf(name)); }

int MenuId(std::string_view name) {
  const auto items = view::MenuItems();
  return kFirstMenuId + static_cast<int>(std::find_if(items.begin(), items.end(),
                                                      [&](const view::MenuEntry& item) {
                                                        return item.name == name;
                                                      }) -
                                         items.begin());
}

VellomarWindow::VellomarWindow(session::Environment env) : session_(std::move(env)) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hIcon = ::LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(1));
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassExW(&window_class);  // fails harmlessly when a window made it already

  // The window keeps the size it is laid out for: no sizing border, no maximise box.
  const std::wstring title = Wide(view::kFirstTitle);
  hwnd_ = ::CreateWindowExW(
      WS_EX_ACCEPTFILES, kWindowClass, title.c_str(),
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, CW_USEDEFAULT,
      CW_USEDEFAULT, 400, 400, nullptr, nullptr, window_class.hInstance, this);
  if (hwnd_ == nullptr) return;
  dpi_ = std::max<UINT>(::GetDpiForWindow(hwnd_), 96);
  brushes_ = {::GetSysColorBrush(COLOR_WINDOW), ::CreateSolidBrush(RGB(255, 255, 0)),
              ::CreateSolidBrush(RGB(255, 0, 0)), ::CreateSolidBrush(RGB(0, 255, 0))};
  CreateControls();
  LayOut();
  session_.on_progress = [this](const std::string& caption) {
    HWND button = Control("CreateMergedHosts");
    SetText(button, Wide(caption));
    ::UpdateWindow(button);
  };
}

VellomarWindow::~VellomarWindow() {
  if (hwnd_ != nullptr && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  if (menu_ != nullptr) ::DestroyMenu(menu_);
  for (std::size_t i = 1; i < brushes_.size(); ++i) ::DeleteObject(brushes_[i]);
  if (dialog_font_ != nullptr) ::DeleteObject(dialog_font_);
  if (fixed_font_ != nullptr) ::DeleteObject(fixed_font_);
}

HWND VellomarWindow::Control(std::string_view name) const {
  const std::size_t index = IndexOf(name);
  return index < controls_.size() ? controls_[index] : nullptr;
}

int VellomarWindow::Px(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), 1440); }

// ---- Controls --------------------------------------------------------------------------------

void VellomarWindow::CreateControls() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  tips_ = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                            hwnd_, nullptr, instance, nullptr);
  ::SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 600);
  const auto table = view::Controls();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const view::ControlEntry& described = table[i];
    const wchar_t* window_class = L"EDIT";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (described.kind) {
      case view::ControlKind::kVersionBox:
        style |= ES_MULTILINE | ES_READONLY | WS_DISABLED;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case view::ControlKind::kStatusBox:
        style |= ES_READONLY | ES_AUTOHSCROLL | WS_DISABLED;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case view::ControlKind::kReportBox:
        style = WS_CHILD | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL |
                WS_HSCROLL | WS_VSCROLL | WS_TABSTOP;
        ex_style = WS_EX_CLIENTEDGE | WS_EX_ACCEPTFILES;
        break;
      case view::ControlKind::kSourceList:
        window_class = WC_LISTVIEWW;
        style |= LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | WS_TABSTOP | WS_BORDER;
        break;
      case view::ControlKind::kFileList:
        window_class = L"LISTBOX";
        style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP | WS_BORDER;
        break;
      case view::ControlKind::kButton:
        window_class = L"BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case view::ControlKind::kLabel:
        window_class = L"STATIC";
        style |= SS_NOTIFY | SS_NOPREFIX | SS_ENDELLIPSIS;
        break;
      case view::ControlKind::kCheckBox:
        window_class = L"BUTTON";
        style |= BS_LEFTTEXT | WS_TABSTOP |
                 (described.name == "Use_127" ? BS_3STATE : static_cast<DWORD>(BS_AUTOCHECKBOX));
        break;
    }
    const std::wstring caption = Wide(described.caption);
    HWND control =
        ::CreateWindowExW(ex_style, window_class, caption.c_str(), style, 0, 0, 10, 10, hwnd_,
                          reinterpret_cast<HMENU>(kFirstControlId + i), instance, nullptr);
    controls_[i] = control;
    std::wstring tip = Wide(described.tip);
    SetTip(control, tip, TTM_ADDTOOLW);
    ::SetWindowSubclass(control, ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  }
  HWND list = Control("MergeList");
  ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 100;
  ListView_InsertColumn(list, 0, &column);
  ::SendMessageW(Control("DisplayDnsText"), EM_SETLIMITTEXT,
                 static_cast<WPARAM>(session::kReportBoxCapacity * 2), 0);
  ::SendMessageW(Control("AutoFlushDns"), BM_SETCHECK, BST_CHECKED, 0);
  ::SendMessageW(Control("Use_127"), BM_SETCHECK,
                 ButtonState(view::TickOf(merge::kDesignedAddressMode)), 0);
}

void VellomarWindow::LayOut() {
  for (HFONT* font : {&dialog_font_, &fixed_font_}) {
    if (*font != nullptr) ::DeleteObject(*font);
  }
  // The layout is measured for a small dialog font; the report and version boxes use a
  // fixed-pitch one, as a terminal shows them.
  dialog_font_ = ::CreateFontW(-::MulDiv(8, static_cast<int>(dpi_), 72), 0, 0, 0, FW_NORMAL, 0, 0,
                               0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"MS Shell Dlg 2");
  fixed_font_ =
      ::CreateFontW(-::MulDiv(9, static_cast<int>(dpi_), 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                    OEM_CHARSET, 0, 0, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Terminal");
  const auto table = view::Controls();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const bool fixed = table[i].kind == view::ControlKind::kVersionBox ||
                       table[i].kind == view::ControlKind::kReportBox;
    ::SendMessageW(controls_[i], WM_SETFONT,
                   reinterpret_cast<WPARAM>(fixed ? fixed_font_ : dialog_font_), FALSE);
  }
  // Real lists give 7-digit line counts and lengths of millions: the window grows to the right
  // by what such summaries need, and the boxes, lists and buttons share the extra width.
  const int check_room = ::GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi_) + Px(120);
  const auto text_width = [&](std::string_view name) {
    return TextWidth(Control(name), dialog_font_, TextOf(Control(name)));
  };
  const int widest = TextWidth(hwnd_, dialog_font_, L"9999999 Lines - len: 999999999") + Px(120);
  int needed = Px(view::kClientWidth);
  for (auto [caption, summary, box] : {std::tuple{"Label1", "CurrentHostsFileInfo", "AutoFlushDns"},
                                       std::tuple{"Label2", "MergedHostsFileInfo", "Use_127"}}) {
    const int summary_left =
        std::max(Px(view::Control(summary).place.left),
                 Px(view::Control(caption).place.left) + text_width(caption) + Px(60));
    const int box_width =
        std::max(Px(view::Control(box).place.width), text_width(box) + check_room);
    needed = std::max(needed, summary_left + widest + box_width + Px(30));
  }
  const int extra = std::max(0, needed - Px(view::kClientWidth));
  const int half = extra / 2;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const view::ControlEntry& described = table[i];
    int left = Px(described.place.left);
    int width = Px(described.place.width);
    const int top = Px(described.place.top);
    const int height = Px(described.place.height);
    const std::string_view name = described.name;
    if (described.kind == view::ControlKind::kVersionBox || name == "InformationText") {
      width += extra;
    } else if (name == "MergeList" || name == "CreateMergedHosts") {
      width += half;
    } else if (name == "FileList" || name == "RefreshListButton") {
      left += half;
      width += extra - half;
    } else if (described.kind == view::ControlKind::kCheckBox) {
      // Keeps its right edge and grows to the left when its caption needs room.
      const int right = left + width + extra;
      width = std::max(width, text_width(name) + check_room);
      left = right - width;
    } else if (name == "Label1" || name == "Label2") {
      width = text_width(name) + Px(30);
    } else if (name == "CurrentHostsFileInfo" || name == "MergedHostsFileInfo") {
      HWND caption = Control(name == "CurrentHostsFileInfo" ? "Label1" : "Label2");
      RECT place{};
      ::GetWindowRect(caption, &place);
      ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&place), 2);
      left = std::max(left, static_cast<int>(place.right) + Px(60));
    }
    ::MoveWindow(controls_[i], left, top, width, height, FALSE);
  }
  ListView_SetColumnWidth(Control("MergeList"), 0, LVSCW_AUTOSIZE_USEHEADER);
  const SIZE client_size{Px(view::kClientWidth) + extra, Px(view::kClientHeight)};
  RECT frame{0, 0, client_size.cx, client_size.cy};
  ::AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE)),
                             FALSE, static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)),
                             dpi_);
  SIZE outer{frame.right - frame.left, frame.bottom - frame.top};
  ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame the system draws may differ from what it computed (a window manager's own
  // decorations): the client area is what the layout needs, so it is measured and put right.
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  if (::IsIconic(hwnd_) == 0 &&
      (client.right != client_size.cx || client.bottom != client_size.cy)) {
    outer.cx += client_size.cx - client.right;
    outer.cy += client_size.cy - client.bottom;
    ::SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Form_Resize();
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

// ---- Start-up and drawing ---------------------------------------------------------------------

void VellomarWindow::Form_Load() {
  const session::Environment& env = session_.env();
  ::SetWindowTextW(
      hwnd_,
      Wide(view::WindowTitle(env.version_major, env.version_minor, env.version_revision)).c_str());
  session_.StartUp();
  Draw();
  // Centred on the screen the window is on.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  RECT frame{};
  ::GetWindowRect(hwnd_, &frame);
  if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor) != 0) {
    const auto at = support::CentredPosition(
        static_cast<float>(monitor.rcMonitor.right - monitor.rcMonitor.left),
        static_cast<float>(monitor.rcMonitor.bottom - monitor.rcMonitor.top),
        static_cast<float>(frame.right - frame.left), static_cast<float>(frame.bottom - frame.top));
    ::SetWindowPos(hwnd_, nullptr, monitor.rcMonitor.left + static_cast<int>(at.left),
                   monitor.rcMonitor.top + static_cast<int>(at.top), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void VellomarWindow::AddNotice(const std::string& text) {
  session_.AddNote(text);
  Draw();
}

void VellomarWindow::Draw() {
  drawing_ = true;
  const auto& entries = session_.Entries();
  HWND list = Control("MergeList");
  HWND files = Control("FileList");
  if (drawn_generation_ != session_.EntriesGeneration()) {
    drawn_generation_ = session_.EntriesGeneration();
    ListView_DeleteAllItems(list);
    ::SendMessageW(files, LB_RESETCONTENT, 0, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::wstring name = Wide(entries[i].name);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(i);
      item.pszText = name.data();
      ListView_InsertItem(list, &item);
      ::SendMessageW(files, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    ListView_SetColumnWidth(list, 0, LVSCW_AUTOSIZE_USEHEADER);
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const int row = static_cast<int>(i);
    if ((ListView_GetCheckState(list, row) != 0) != entries[i].ticked) {
      ListView_SetCheckState(list, row, entries[i].ticked ? TRUE : FALSE);
    }
  }

  const view::WindowContent content = view::Present(session_);
  DrawStatus(content);
  for (auto [side, box, summary] :
       {std::tuple{&content.installed, "CurrentVersionText", "CurrentHostsFileInfo"},
        std::tuple{&content.merged, "MergedVersionText", "MergedHostsFileInfo"}}) {
    DrawSummary(Control(summary), side->summary);
    colours_[IndexOf(box)] = side->colour;
    SetText(Control(box), BoxText(side->version_text));
    ::InvalidateRect(Control(box), nullptr, TRUE);
  }
  HWND use_127 = Control("Use_127");
  if (TickOf(::SendMessageW(use_127, BM_GETCHECK, 0, 0)) != content.use_127) {
    ::SendMessageW(use_127, BM_SETCHECK, ButtonState(content.use_127), 0);
  }
  SetText(use_127, Wide(content.use_127_caption));
  drawing_ = false;
}

void VellomarWindow::DrawStatus(const view::WindowContent& content) {
  HWND box = Control("InformationText");
  colours_[IndexOf("InformationText")] = content.status_colour;
  // A text longer than the box loses its middle, not its end, where the reason stands; the tip
  // holds it whole.
  RECT inside{};
  ::GetClientRect(box, &inside);
  const std::wstring text = Wide(content.status);
  const std::wstring shown = ElideMiddle(box, dialog_font_, text, inside.right - Px(120));
  SetText(box, shown);
  ::InvalidateRect(box, nullptr, TRUE);
  std::wstring tip = shown == text ? Wide(view::Control("InformationText").tip) : text;
  SetTip(box, tip, TTM_UPDATETIPTEXTW);
}

void VellomarWindow::DrawSummary(HWND summary, const std::string& text) {
  // The summary grows with its text up to the check box on its right, and no further: a longer
  // one is cut with an ellipsis and shown whole in the tool tip.
  HWND neighbour = Control(summary == Control("CurrentHostsFileInfo") ? "AutoFlushDns" : "Use_127");
  RECT place{};
  RECT next{};
  ::GetWindowRect(summary, &place);
  ::GetWindowRect(neighbour, &next);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&place), 2);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&next), 2);
  const int room = std::max(0, static_cast<int>(next.left - place.left) - Px(60));
  const std::wstring wide = Wide(text);
  const int width = TextWidth(summary, dialog_font_, wide) + Px(30);
  ::MoveWindow(summary, place.left, place.top, std::min(room, width), place.bottom - place.top,
               TRUE);
  SetText(summary, wide);
  std::wstring tip = width <= room ? Wide(view::Control("CurrentHostsFileInfo").tip) : wide;
  SetTip(summary, tip, TTM_UPDATETIPTEXTW);
}

void VellomarWindow::SetTip(HWND control, std::wstring tip, UINT message) {
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = tip.data();
  ::SendMessageW(tips_, message, 0, reinterpret_cast<LPARAM>(&tool));
}

HBRUSH VellomarWindow::BrushFor(HWND control, HDC dc) {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i] != control) continue;
    const view::ControlKind kind = view::Controls()[i].kind;
    if (kind != view::ControlKind::kVersionBox && kind != view::ControlKind::kStatusBox &&
        kind != view::ControlKind::kReportBox) {
      return nullptr;
    }
    ::SetBkColor(dc, ColourOf(colours_[i]));
    // The report box writes in the window's text colour; the disabled boxes the system greys.
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    return brushes_[static_cast<std::size_t>(colours_[i])];
  }
  return nullptr;
}

// ---- Messages -----------------------------------------------------------------------------------

LRESULT CALLBACK VellomarWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<VellomarWindow*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<VellomarWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->controls_.front() == nullptr) {
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return self->Handle(message, wparam, lparam);
}

LRESULT VellomarWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (lparam == 0) {
        MenuCommand(id);  // a menu item, chosen from the popup menu
        return 0;
      }
      const auto table = view::Controls();
      const std::size_t index = static_cast<std::size_t>(id - kFirstControlId);
      if (index >= table.size()) break;
      const std::string_view name = table[index].name;
      if (name == "CreateMergedHosts" && code == BN_CLICKED) {
        Install(true, ::SendMessageW(Control("AutoFlushDns"), BM_GETCHECK, 0, 0) == BST_CHECKED);
      } else if (name == "RefreshListButton" && code == BN_CLICKED) {
        session_.Refresh();
        Draw();
      } else if (name == "Use_127" && code == BN_CLICKED) {
        Use_127_Click();
      } else if (name == "FileList" && code == LBN_SELCHANGE) {
        FileList_Click();
      } else if (name == "FileList" && code == LBN_DBLCLK) {
        FileList_DblClick();
      } else if (name == "CurrentHostsFileInfo" && code == STN_CLICKED) {
        GetHostVersion(session::Sides::kInstalled);
      } else if (name == "MergedHostsFileInfo" && code == STN_CLICKED) {
        GetHostVersion(session::Sides::kMerged);
      } else if (name == "Label1" && code == STN_DBLCLK) {
        session_.OpenInEditor(session_.HostsFilePath());
        Draw();
      } else if (name == "Label2" && code == STN_DBLCLK) {
        session_.OpenInEditor(session_.MergedFilePath());
        Draw();
      }
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom != Control("MergeList")) break;
      if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
        const UINT ticks = (change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK;
        if (!drawing_ && (change->uChanged & LVIF_STATE) != 0 && ticks != 0 && change->iItem >= 0 &&
            (change->uOldState & LVIS_STATEIMAGEMASK) != 0) {
          MergeList_ItemChanged(change->iItem,
                                ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2);
        }
      } else if (header->code == NM_CLICK || header->code == NM_DBLCLK) {
        // A click anywhere on an entry toggles its tick; one on the tick box itself the list
        // toggles on its own. The second press of a double click toggles again.
        LVHITTESTINFO hit{};
        hit.pt = reinterpret_cast<const NMITEMACTIVATE*>(lparam)->ptAction;
        const int row = ListView_HitTest(Control("MergeList"), &hit);
        if (row >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) == 0) MergeList_Toggle(row);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      if (HBRUSH brush = BrushFor(reinterpret_cast<HWND>(lparam), reinterpret_cast<HDC>(wparam)))
        return reinterpret_cast<LRESULT>(brush);
      break;
    case WM_LBUTTONDOWN:
      Form_MouseDown(1);
      return 0;
    case WM_RBUTTONDOWN:
      Form_MouseDown(2);
      return 0;
    case WM_MBUTTONDOWN:
      Form_MouseDown(4);
      return 0;
    case WM_CONTEXTMENU:
      // The Menu key and Shift+F10 (no position): the command menu at the window's centre. A
      // right click reaches Form_MouseDown instead.
      if (lparam == -1) {
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        POINT centre{client.right / 2, client.bottom / 2};
        ::ClientToScreen(hwnd_, &centre);
        ShowMenu(centre);
      }
      return 0;
    case WM_SIZE:
      Form_Resize();
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      LayOut();
      Draw();
      return 0;
    }
    case WM_TIMER:
      if (wparam == kDeleteTimer) DeleteTimer_Timer();
      return 0;
    case kFetchProgress: {
      const std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lparam));
      if (fetching_) SetText(Control("InformationText"), Wide(*text));
      return 0;
    }
    case WM_DROPFILES:
      Form_OLEDragDrop(DroppedFiles(reinterpret_cast<HDROP>(wparam)));
      return 0;
    case WM_CLOSE:
      // Disabled while an install waits for the administrator's consent: it finishes (or is
      // declined) before the window may go.
      if (::IsWindowEnabled(hwnd_) != 0) Form_Unload();
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK VellomarWindow::ControlProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                             UINT_PTR /*id*/, DWORD_PTR self) {
  if (reinterpret_cast<VellomarWindow*>(self)->HandleControl(hwnd, message, wparam, lparam))
    return 0;
  return ::DefSubclassProc(hwnd, message, wparam, lparam);
}

bool VellomarWindow::HandleControl(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
  const bool down =
      message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
  if (control == Control("Use_127")) {
    if (message == WM_RBUTTONDOWN) Use_127_MouseDown(2);
    return message == WM_RBUTTONDOWN || message == WM_RBUTTONUP;  // the box keeps right clicks
  }
  if (control == Control("AutoFlushDns")) {
    if (down) {
      const int shift = ((wparam & MK_SHIFT) != 0 ? 1 : 0) | ((wparam & MK_CONTROL) != 0 ? 2 : 0) |
                        (::GetKeyState(VK_MENU) < 0 ? 4 : 0);
      AutoFlushDns_MouseDown(shift);
    }
    return message == WM_RBUTTONDOWN || message == WM_RBUTTONUP || message == WM_MBUTTONDOWN;
  }
  if (control == Control("DisplayDnsText")) {
    if (message == WM_LBUTTONDBLCLK) {
      DisplayDnsText_DblClick();
      return true;
    }
    if (message == WM_DROPFILES) {
      DisplayDnsText_OLEDragDrop(DroppedFiles(reinterpret_cast<HDROP>(wparam)));
      return true;
    }
  }
  (void)lparam;
  return false;
}

// ---- Window ----------------------------------------------------------------------------------

void VellomarWindow::Form_Resize() {
  RECT frame{};
  ::GetWindowRect(hwnd_, &frame);
  if (::IsIconic(hwnd_) != 0) return;  // a minimised window keeps the box as it was
  const int twips_per_px_x1000 = ::MulDiv(1440, 1000, static_cast<int>(dpi_));
  const view::TwipRect box =
      view::DnsBoxLayout((frame.right - frame.left) * twips_per_px_x1000 / 1000,
                         (frame.bottom - frame.top) * twips_per_px_x1000 / 1000);
  ::MoveWindow(Control("DisplayDnsText"), Px(box.left), Px(box.top), Px(box.width), Px(box.height),
               TRUE);
}

void VellomarWindow::Form_MouseDown(int button) {
  if (button != 2) return;
  POINT at{};
  ::GetCursorPos(&at);
  ShowMenu(at);
}

void VellomarWindow::LoadMenu() {
  if (menu_ != nullptr) return;
  // Loaded on first use: whether the update item shows is decided once per run.
  menu_ = ::CreatePopupMenu();
  const bool merged_exists = platform::FileExists(session_.MergedFilePath());
  const auto items = view::MenuItems();
  menu_ticks_.assign(items.size(), false);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const UINT id = static_cast<UINT>(kFirstMenuId + static_cast<int>(i));
    if (items[i].caption.empty()) {
      ::AppendMenuW(menu_, MF_SEPARATOR, id, nullptr);
      continue;
    }
    const view::MenuItemShown shown = view::ItemAtLoad(items[i], merged_exists);
    if (!shown.visible) continue;
    ::AppendMenuW(menu_, MF_STRING | (shown.enabled ? 0 : MF_GRAYED), id,
                  Wide(shown.caption).c_str());
  }
}

void VellomarWindow::ShowMenu(POINT at) {
  LoadMenu();
  ::EnableMenuItem(menu_, static_cast<UINT>(MenuId("Mnu_ShowDns")),
                   MF_BYCOMMAND | (show_dns_enabled_ ? MF_ENABLED : MF_GRAYED));
  ::SetForegroundWindow(hwnd_);
  const int chosen = static_cast<int>(::TrackPopupMenuEx(
      menu_, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, at.x, at.y, hwnd_, nullptr));
  if (chosen != 0) MenuCommand(chosen);
}

void VellomarWindow::MenuCommand(int id) {
  const auto items = view::MenuItems();
  const std::size_t index = static_cast<std::size_t>(id - kFirstMenuId);
  LoadMenu();
  if (index >= items.size() || items[index].caption.empty()) return;
  // Only what the menu offers: an item that is hidden or greyed does nothing.
  const UINT state = ::GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND);
  if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED)) != 0) return;
  const std::string_view name = items[index].name;
  if (items[index].checkable) {
    menu_ticks_[index] = !menu_ticks_[index];
    ::CheckMenuItem(menu_, static_cast<UINT>(id),
                    MF_BYCOMMAND | (menu_ticks_[index] ? MF_CHECKED : MF_UNCHECKED));
  }
  const bool auto_flush = ::SendMessageW(Control("AutoFlushDns"), BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (name == "Mnu_HostFileCheck") {
    GetHostVersion(session::Sides::kInstalled);
  } else if (name == "Mnu_HostFileUpdate") {
    Install(false, auto_flush);
  } else if (name == "Mnu_FetchSources") {
    UpdateSourcesFromWeb();
  } else if (name == "Mnu_FindName") {
    FindName();
  } else if (name == "Mnu_Dedupe") {
    session_.SetDedupe(menu_ticks_[index]);
    Draw();
  } else if (name == "Mnu_ShowDns") {
    DoDnsDisplay();
  } else if (name == "Mnu_OpenDnsNotepad") {
    if (menu_ticks_[index]) DoDnsDisplay();
  } else if (name == "Mnu_FlushDns") {
    DoFlush();
  } else if (name == "Mnu_StopDnsService") {
    session_.StopDnsService();
    Draw();
  } else if (name == "Mnu_StartDnsService") {
    session_.StartDnsService();
    Draw();
  } else if (name == "Mnu_WebLink") {
    session_.ShellOpen(std::string(view::kWebLinkAddress));
    Draw();
  } else if (name == "Mnu_Exit") {
    Form_Unload();
  }
}

void VellomarWindow::UpdateSourcesFromWeb() {
  fetching_ = true;
  // Told on the worker that fetches (see FetchingInWindow): the text is posted to this thread.
  session_.on_fetch_progress = [this](const std::string& list, std::uint64_t bytes) {
    auto text = std::make_unique<std::string>(view::FetchProgressText(list, bytes));
    if (::PostMessageW(hwnd_, kFetchProgress, 0, reinterpret_cast<LPARAM>(text.get())) != 0) {
      static_cast<void>(text.release());  // the window's handler owns it now
    }
  };
  session_.UpdateSourcesFromWeb();
  session_.on_fetch_progress = nullptr;
  fetching_ = false;
  Draw();
}

void VellomarWindow::FindName() {
  const auto name = AskForText(hwnd_, Wide(view::kFindNameTitle), Wide(view::kFindNamePrompt));
  if (!name) return;
  const std::string text = Narrow(*name);
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return;
  (void)session_.FindName(text.substr(first, text.find_last_not_of(" \t") + 1 - first));
  Draw();
}

void VellomarWindow::Form_Unload() {
  ::KillTimer(hwnd_, kDeleteTimer);
  session_.CleanUp();
  ::DestroyWindow(hwnd_);
}

void VellomarWindow::Form_OLEDragDrop(const std::vector<std::string>& files) {
  // The drop option is never available; were it ticked, a drop would only refresh the reports.
  const std::size_t option = static_cast<std::size_t>(MenuId("Mnu_EnableDnD") - kFirstMenuId);
  if (menu_ticks_.size() <= option || !menu_ticks_[option] || files.empty()) return;
  GetHostVersion(session::Sides::kBoth);
}

// ---- Sources ---------------------------------------------------------------------------------

void VellomarWindow::MergeList_ItemChanged(int row, bool ticked) {
  session_.SetTicked(static_cast<std::size_t>(row), ticked);
  Draw();
}

void VellomarWindow::MergeList_Toggle(int row) {
  HWND list = Control("MergeList");
  ListView_SetCheckState(list, row, ListView_GetCheckState(list, row) == 0 ? TRUE : FALSE);
}

void VellomarWindow::FileList_Click() {
  const LRESULT row = ::SendMessageW(Control("FileList"), LB_GETCURSEL, 0, 0);
  if (row < 0) return;
  session_.ShowFileSummary(static_cast<std::size_t>(row));
  Draw();
}

void VellomarWindow::FileList_DblClick() {
  const LRESULT row = ::SendMessageW(Control("FileList"), LB_GETCURSEL, 0, 0);
  if (row < 0) return;
  const std::string path = session_.EntryPath(static_cast<std::size_t>(row));
  if (platform::FileExists(path)) session_.ShellOpen(path);
  Draw();
}

void VellomarWindow::GetHostVersion(session::Sides sides) {
  session_.RefreshVersions(sides);
  Draw();
}

// ---- Address mode ----------------------------------------------------------------------------

void VellomarWindow::Use_127_Click() {
  const view::TickState now = TickOf(::SendMessageW(Control("Use_127"), BM_GETCHECK, 0, 0));
  session_.SetMode(view::ModeOf(view::ClickedTick(now)));
  Draw();
}

void VellomarWindow::Use_127_MouseDown(int button) {
  if (button != 2) return;
  session_.SetMode(merge::ToggledAddressMode(session_.Mode()));
  Draw();
}

// ---- DNS -------------------------------------------------------------------------------------

void VellomarWindow::Install(bool merge, bool auto_flush) {
  const session::Verdict verdict =
      merge ? session_.MergeAndInstall(auto_flush) : session_.InstallMerged(auto_flush);
  Draw();  // the status says that nothing was written while the question waits
  if (verdict == session::Verdict::kOwnEntriesAtStake &&
      ::MessageBoxW(hwnd_, BoxText(view::OwnEntriesQuestion(session_.OwnEntriesAtStake())).c_str(),
                    Wide(view::kOwnEntriesTitle).c_str(),
                    MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES) {
    session_.InstallMerged(auto_flush, true);
    Draw();
  }
}

void VellomarWindow::DoFlush() {
  session_.FlushResolverCache();
  Draw();
}

void VellomarWindow::AutoFlushDns_MouseDown(int shift) {
  if (shift == 0) return;
  DoFlush();
  ::SendMessageW(Control("AutoFlushDns"), BM_SETCHECK, BST_CHECKED, 0);
}

void VellomarWindow::DoDnsDisplay() {
  ::KillTimer(hwnd_, kDeleteTimer);
  const bool started = session_.StartCacheCapture();
  show_dns_enabled_ = !started;
  if (started) ::SetTimer(hwnd_, kDeleteTimer, view::kCapturePollMs, nullptr);
  Draw();
}

void VellomarWindow::DeleteTimer_Timer() {
  const session::CapturePoll poll = session_.PollCapture();
  if (poll.state == session::CaptureState::kPending) return;
  ::KillTimer(hwnd_, kDeleteTimer);
  show_dns_enabled_ = true;
  if (poll.state == session::CaptureState::kFinished && !poll.report.empty()) {
    HWND box = Control("DisplayDnsText");
    SetText(box, BoxText(poll.report));
    colours_[IndexOf("DisplayDnsText")] = view::ReportColour(poll);
    const std::size_t notepad =
        static_cast<std::size_t>(MenuId("Mnu_OpenDnsNotepad") - kFirstMenuId);
    const std::string capture = session_.CaptureFilePath();
    if (notepad < menu_ticks_.size() && menu_ticks_[notepad]) {
      if (platform::FileExists(capture)) session_.ShellOpen(capture);
    } else {
      ::ShowWindow(box, SW_SHOW);
      ::SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
  }
  Draw();
}

void VellomarWindow::DisplayDnsText_DblClick() {
  HWND box = Control("DisplayDnsText");
  if (colours_[IndexOf("DisplayDnsText")] == view::ColourRole::kYellow &&
      platform::FileExists(session_.CaptureFilePath())) {
    session_.ShellOpen(session_.CaptureFilePath());
  }
  ::SetWindowTextW(box, L"");
  ::ShowWindow(box, SW_HIDE);
}

void VellomarWindow::DisplayDnsText_OLEDragDrop(const std::vector<std::string>& files) {
  if (files.empty()) return;
  SetText(Control("DisplayDnsText"), BoxText(support::ReadWholeFile(files.front())));
}

}  // namespace vellomar::win32
