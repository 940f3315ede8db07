#include "view/window.h"

#include <algorithm>
#include <array>

namespace vellomar::view {
namespace {

using K = ControlKind;

constexpr std::array kControls = {
    ControlEntry{
        "CurrentVersionText", K::kVersionBox, {30, 270, 5025, 645}, "Text1", "Current Version"},
    ControlEntry{"MergeList",
                 K::kSourceList,
                 {270, 1980, 2085, 2085},
                 "",
                 "Select to include in merge file"},
    ControlEntry{"FileList", K::kFileList, {2880, 2010, 1905, 2040}, "", "Double click to edit"},
    ControlEntry{"CreateMergedHosts",
                 K::kButton,
                 {300, 4170, 2085, 315},
                 "Write to HOSTS",
                 "Recreate and Write Merged file to HOSTS"},
    ControlEntry{
        "RefreshListButton", K::kButton, {2910, 4170, 1875, 315}, "Refresh", "Refresh things"},
    ControlEntry{
        "MergedVersionText", K::kVersionBox, {30, 1260, 5025, 645}, "Text1", "Merge Version"},
    ControlEntry{
        "InformationText", K::kStatusBox, {300, 4560, 4455, 285}, "Info", "General Info.!"},
    ControlEntry{"Label1",
                 K::kLabel,
                 {60, 60, 1215, 195},
                 "Current Host File:",
                 "Double click to edit the file"},
    ControlEntry{"Label2",
                 K::kLabel,
                 {60, 1050, 1245, 195},
                 "Merged Host File:",
                 "Double click to edit the file"},
    ControlEntry{"CurrentHostsFileInfo",
                 K::kLabel,
                 {1440, 60, 825, 195},
                 "",
                 "Click to refresh Version info"},
    ControlEntry{"MergedHostsFileInfo",
                 K::kLabel,
                 {1410, 1050, 825, 195},
                 "",
                 "Click to refresh Version info"},
    ControlEntry{"AutoFlushDns",
                 K::kCheckBox,
                 {3690, 60, 1365, 195},
                 "Auto FlushDns",
                 "Auto flushdns after Hosts write"},
    ControlEntry{"DisplayDnsText",
                 K::kReportBox,
                 {30, 60, 2475, 1695},
                 "",
                 "Double click to hide this display"},
    ControlEntry{"Use_127",
                 K::kCheckBox,
                 {3690, 1050, 1365, 195},
                 "Use 127.0.0.1",
                 "Use 127.0.0.1 or 0.0.0.0 (RIGHT CLICK TO TOGGLE)"},
};

constexpr std::array kMenuItems = {
    MenuEntry{"Mnu_HostFileCheck", "Check Host Version"},
    MenuEntry{"Mnu_HostFileUpdate", "Update Host File"},
    MenuEntry{"Mnu_FetchSources", "Update Sources from the Web"},
    MenuEntry{"Mnu_FindName", "Find a Name"},
    MenuEntry{"Mnu_Dedupe", "Leave Out Duplicate Names", true},
    MenuEntry{"sep0", ""},
    MenuEntry{"Mnu_ShowDns", "Show Current DNS"},
    MenuEntry{"Mnu_OpenDnsNotepad", "Show Current DNS in Notepad", true},
    MenuEntry{"Mnu_FlushDns", "Flush Dns Now"},
    MenuEntry{"sep1", ""},
    MenuEntry{"Mnu_StopDnsService", "Stop Dns Cache service"},
    MenuEntry{"Mnu_StartDnsService", "Start Dns Cache Service"},
    MenuEntry{"sep2", ""},
    MenuEntry{"Mnu_EnableDnD", "Enable Drag and Drop 'hosts' File Replace", true},
    MenuEntry{"Mnu_WebLink", kWebLinkAddress},
    MenuEntry{"sep3", ""},
    MenuEntry{"Mnu_Exit", "&Exit"},
};

SideContent SideOf(const session::VersionSide& side) {
  return {side.summary, side.version_text, ColourOf(side.tone)};
}

}  // namespace

std::string WindowTitle(int major, int minor, int revision) {
  return "Vellomar - v" + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(revision);
}

TwipRect DnsBoxLayout(int outer_width, int outer_height) {
  constexpr int kLeft = 30;
  constexpr int kTop = 60;
  return {kLeft, kTop, std::max(0, outer_width - 2 * kLeft - 120),
          std::max(0, outer_height - kTop - 525)};
}

std::span<const ControlEntry> Controls() { return kControls; }

const ControlEntry& Control(std::string_view name) {
  const auto found =
      std::find_if(kControls.begin(), kControls.end(),
                   [&](const ControlEntry& described) { return described.name == name; });
  return found != kControls.end() ? *found : kControls.front();
}

std::span<const MenuEntry> MenuItems() { return kMenuItems; }

MenuItemShown ItemAtLoad(const MenuEntry& item, bool merged_file_exists) {
  MenuItemShown shown{true, true, item.caption};
  if (item.name == "Mnu_HostFileUpdate") {
    shown.visible = merged_file_exists;
    shown.caption = "Update HOSTS file from Application Path";
  } else if (item.name == "Mnu_EnableDnD") {
    shown.enabled = false;
  }
  return shown;
}

TickState TickOf(merge::AddressMode mode) {
  switch (mode) {
    case merge::AddressMode::kNoChange:
      return TickState::kUnticked;
    case merge::AddressMode::kUse127:
      return TickState::kTicked;
    case merge::AddressMode::kUse0000:
      break;
  }
  return TickState::kGrayed;
}

merge::AddressMode ModeOf(TickState state) {
  switch (state) {
    case TickState::kUnticked:
      return merge::AddressMode::kNoChange;
    case TickState::kTicked:
      return merge::AddressMode::kUse127;
    case TickState::kGrayed:
      break;
  }
  return merge::AddressMode::kUse0000;
}

TickState ClickedTick(TickState state) {
  return state == TickState::kTicked ? TickState::kUnticked : TickState::kTicked;
}

WindowContent Present(const session::Session& session) {
  WindowContent content;
  content.status = StatusText(session.Information());
  content.status_colour = ColourOf(session.Information().tone);
  content.installed = SideOf(session.CurrentSide());
  content.merged = SideOf(session.MergedSide());
  content.use_127 = TickOf(session.Mode());
  content.use_127_caption = std::string(merge::AddressModeCaption(session.Mode()));
  return content;
}

ColourRole ReportColour(const session::CapturePoll& poll) {
  return poll.fits ? ColourRole::kWindow : ColourRole::kYellow;
}

}  // namespace vellomar::view
