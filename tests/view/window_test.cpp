// The window as the view describes it: the title, the report box's layout, the three states of
// Use_127, the menu after its load, and a control table every front end can lay out.
#include "view/window.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

namespace vellomar::view {
namespace {

TEST(WindowViewTest, TitleLayoutAndTheAddressModeBox) {
  EXPECT_EQ(WindowTitle(1, 0, 5), "Vellomar - v1.0.5");  // no leading zeros
  const TwipRect box = DnsBoxLayout(5235, 5475);
  EXPECT_EQ((std::array{box.left, box.top, box.width, box.height}),
            (std::array{30, 60, 5055, 4890}));
  const TwipRect tiny = DnsBoxLayout(100, 300);  // minimised: never a negative size
  EXPECT_EQ(tiny.width + tiny.height, 0);
  for (const auto mode :
       {merge::AddressMode::kNoChange, merge::AddressMode::kUse127, merge::AddressMode::kUse0000}) {
    EXPECT_EQ(ModeOf(TickOf(mode)), mode);
  }
  EXPECT_EQ(TickOf(merge::AddressMode::kUse0000), TickState::kGrayed);
  // A click never greys the box: from grey it ticks, and it toggles otherwise.
  EXPECT_EQ(ClickedTick(TickState::kGrayed), TickState::kTicked);
  EXPECT_EQ(ClickedTick(TickState::kTicked), TickState::kUnticked);
  EXPECT_EQ(ClickedTick(TickState::kUnticked), TickState::kTicked);
}

TEST(WindowViewTest, TheMenuAfterItsLoad) {
  for (const bool merged_exists : {false, true}) {
    std::string shown;
    for (const MenuEntry& item : MenuItems()) {
      const MenuItemShown state = ItemAtLoad(item, merged_exists);
      if (!state.visible) continue;
      shown += std::string(state.caption) + (state.enabled ? "" : " (off)") + "|";
    }
    EXPECT_EQ(shown,
              std::string("Check Host Version|") +
                  (merged_exists ? "Update HOSTS file from Application Path|" : "") +
                  "Update Sources from the Web|Find a Name|Leave Out Duplicate Names||Show "
                  "Current DNS|Show Current DNS in Notepad|Flush Dns Now||Stop Dns Cache "
                  "service|Start Dns Cache Service||Enable Drag and Drop 'hosts' File Replace "
                  "(off)|https://github.com/StevenBlack/hosts||&Exit|");
  }
}

// Names are unique (front ends and tests find controls by them) and every control lies inside
// the client area as laid out.
TEST(WindowViewTest, EveryControlHasItsOwnNameAndFitsTheWindow) {
  std::set<std::string_view> names;
  for (const ControlEntry& control : Controls()) {
    EXPECT_TRUE(names.insert(control.name).second) << control.name;
    EXPECT_EQ(&Control(control.name), &control);
    EXPECT_LE(control.place.left + control.place.width, kClientWidth) << control.name;
    EXPECT_LE(control.place.top + control.place.height, kClientHeight) << control.name;
  }
  EXPECT_EQ(names.size(), 14u);
}

}  // namespace
}  // namespace vellomar::view
