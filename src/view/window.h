#pragma once
// The main window without a toolkit: its controls (names, kinds, places in twips, captions,
// tips, in tab order), its command menu, its layout rule, and what every control shows for a
// session's state. Each front end builds its native controls from these tables and draws
// Present(); no front end keeps a caption, a place or a rule of its own.

#include <span>
#include <string>
#include <string_view>

#include "merge/address_mode.h"
#include "session/session.h"
#include "view/status_text.h"

namespace vellomar::view {

// Twips are 1/1440 inch; 15 twips are one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
// The client area as laid out.
inline constexpr int kClientWidth = 5115;
inline constexpr int kClientHeight = 4980;
// The caption before start-up names the window.
inline constexpr std::string_view kFirstTitle = "Host file Creator";
// Address opened by Mnu_WebLink; also its caption.
inline constexpr std::string_view kWebLinkAddress = "https://github.com/StevenBlack/hosts";
// The interval of DeleteTimer, which polls a running DNS cache capture.
inline constexpr int kCapturePollMs = 2000;

// "Vellomar - v" and the version numbers in plain decimal: "Vellomar - v1.0.61".
std::string WindowTitle(int major, int minor, int revision);

struct TwipRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Where the DNS report box stands in a window of the given outer size: left 30, top 60, the
// outer width less 180 and the outer height less 585. A window too small for the box gives a
// zero width or height, never a negative one.
TwipRect DnsBoxLayout(int outer_width, int outer_height);

enum class ControlKind {
  kVersionBox,  // multi-line, read-only, disabled; fixed-pitch font
  kSourceList,  // entries with tick boxes; a click on an entry toggles its tick
  kFileList,    // single selection
  kButton,
  kStatusBox,  // single line, read-only, disabled
  kLabel,      // takes clicks and double clicks, no focus
  kCheckBox,   // the tick box right of its caption
  kReportBox,  // the DNS report: multi-line, read-only, both scroll bars, hidden at first
};

struct ControlEntry {
  std::string_view name;
  ControlKind kind;
  TwipRect place;
  std::string_view caption;  // the text it carries when the window is created
  std::string_view tip;
};

// The window's controls in tab order.
std::span<const ControlEntry> Controls();
// The control of this name; the names are those of Controls().
const ControlEntry& Control(std::string_view name);

// The command menu: items in order; a separator has an empty caption.
struct MenuEntry {
  std::string_view name;
  std::string_view caption;
  bool checkable = false;
};
std::span<const MenuEntry> MenuItems();

// How an item shows once the menu is loaded (decided once per run): the update item only when
// the merged file exists at that moment, under its longer caption; the drag-and-drop option is
// never available.
struct MenuItemShown {
  bool visible = true;
  bool enabled = true;
  std::string_view caption;
};
MenuItemShown ItemAtLoad(const MenuEntry& item, bool merged_file_exists);

// The three states of Use_127 for the address modes, and back.
enum class TickState { kUnticked, kTicked, kGrayed };
TickState TickOf(merge::AddressMode mode);
merge::AddressMode ModeOf(TickState state);
// The state a left click moves Use_127 to: a click toggles between unticked and ticked; only
// the program greys the box.
TickState ClickedTick(TickState state);

// What the version side of one file shows.
struct SideContent {
  std::string summary;
  std::string version_text;
  ColourRole colour = ColourRole::kWindow;
};

// What the controls show for the session's state (the entries and their ticks come from
// Session::Entries()).
struct WindowContent {
  std::string status;
  ColourRole status_colour = ColourRole::kWindow;
  SideContent installed;  // CurrentHostsFileInfo, CurrentVersionText
  SideContent merged;     // MergedHostsFileInfo, MergedVersionText
  TickState use_127 = TickState::kTicked;
  std::string use_127_caption;
};
WindowContent Present(const session::Session& session);

// The report box's colour for a finished capture: yellow when the report was cut to fit.
ColourRole ReportColour(const session::CapturePoll& poll);

}  // namespace vellomar::view
