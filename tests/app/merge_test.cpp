// The merge and the address mode, driven through the window.
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

class MergeTest : public FormTest {
 protected:
  MergeTest() {
    Source("H_0Header.txt", "# head\n127.0.0.1 localhost\n");
    Source("H_1mvps.txt", "0.0.0.0 a.example\n");
    Source("H_2Header.txt", "# second header\n");
    Source("H_3mvps.txt", "0.0.0.0 b.example\n");
    Source("H_4plain.txt", "0.0.0.0 c.example\n");
    Source("H_5last.txt", "0.0.0.0 d.example");
    Load();
  }
  void TickOnly(const std::vector<int>& indexes) {
    for (int i = 0; i < form->MergeList->count(); ++i) Tick(i, false);
    for (int i : indexes) Tick(i, true);
  }
};

TEST_F(MergeTest, TickingRebuildsTheFileAndCountsOnTheButtonWhenAHeaderComesFirst) {
  TickOnly({0});
  QSignalSpy spy(form.get(), &VellomarForm::MergeProgress);
  Tick(5, true);
  QStringList captions;
  for (const auto& signal : spy) captions << signal.at(0).toString();
  EXPECT_EQ(captions, (QStringList{"0 of 2", "5 of 2", "Write to HOSTS"}));
  EXPECT_EQ(Merged(),
            "# head\n127.0.0.1 localhost\n\n# [Start of H_5last.txt entries]\n"
            "0.0.0.0 d.example\n# [End of H_5last.txt entries]\n"
            "# *********************************************************#\n\n");
  EXPECT_EQ(Info(), "Merged 9 Lines - len: 172 - File:[ M_Hosts.txt ]");
  EXPECT_EQ(InfoColour(), VellomarForm::ColourOf(view::ColourRole::kWindow));
}

TEST_F(MergeTest, RightPressCyclesTheModeAndRebuildsOncePerChange) {
  TickOnly({0, 5});
  merges = 0;
  QTest::mousePress(form->Use_127, Qt::RightButton, Qt::ShiftModifier);  // from the grayed state
  EXPECT_EQ(form->Use_127->text(), "Use 127.0.0.1");
  EXPECT_NE(Merged().find("\n127.0.0.1 d.example"), std::string::npos);
  QTest::mousePress(form->Use_127, Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(form->Use_127->text(), "Use 0.0.0.0");
  QTest::mousePress(form->Use_127, Qt::MiddleButton);
  EXPECT_EQ(merges, 2);
  form->Use_127->setCheckState(Qt::Unchecked);
  EXPECT_EQ(form->Use_127->text(), " No Change");
  QTest::mouseClick(form->Use_127, Qt::LeftButton);  // a left click never grays the box
  EXPECT_EQ(form->Use127Value(), 1);
  QTest::mouseClick(form->Use_127, Qt::LeftButton);
  EXPECT_EQ(form->Use127Value(), 0);
  QTest::mousePress(form->Use_127, Qt::RightButton);
  EXPECT_EQ(form->Use127Value(), 1);
  EXPECT_EQ(merges, 6);
}

TEST_F(MergeTest, AMergedFileThatCannotBeReplacedIsLoggedAndKept) {
  TickOnly({0});
  ::unlink(P("M_Hosts.txt").c_str());
  ::mkdir(P("M_Hosts.txt").c_str(), 0755);
  testing::WriteFile(P("M_Hosts.txt/keep"), "x");
  Tick(5, true);
  EXPECT_EQ(testing::ReadFile(P("vellomar_Log.txt")), "Failed to Kill " + P("M_Hosts.txt") + "\n");
  EXPECT_EQ(testing::ReadFile(P("M_Hosts.txt/keep")), "x");
}

// The command line merges byte for byte as the window does for the same ticks and mode.
TEST_F(MergeTest, TheCommandLineMergesAsTheWindowDoes) {
  Source("H_6lf.txt", "127.0.0.1 e.example\r\n# c\n0.0.0.0 f.example\n::1 localhost\n");
  form->RefreshListButton_Click();
  for (const int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    TickOnly({0, 1, 3, 4, 6});  // the second mvps entry loses its tick in both
    form->session().SetMode(static_cast<merge::AddressMode>(mode));
    form->MergeList_Click();
    const char* names[] = {"keep", "127.0.0.1", "0.0.0.0"};
    const std::string command = std::string(VELLOMAR_CLI) + " --folder " + program.path() +
                                " --hosts " + Sys("hosts") + " merge --mode " + names[mode] +
                                " --output " + Sys("cli.txt") +
                                " H_0Header.txt H_6lf.txt H_1mvps.txt H_3mvps.txt H_4plain.txt"
                                " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(testing::ReadFile(Sys("cli.txt")), Merged());
  }
}

}  // namespace
}  // namespace vellomar::app
