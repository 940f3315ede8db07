// The merge and the address mode, driven through the window.
#include <QSignalSpy>
#include <QTest>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

using V = std::vector<std::string>;

const char kSeparator[] = "# *********************************************************#\n";

class MergeTest : public FormTest {
 protected:
  MergeTest() {
    Source("H_0Header.txt", "# head\n127.0.0.1 localhost\n");
    Source("H_1mvps.txt", "0.0.0.0 a.example\n");
    Source("H_2Header.txt", "# second header\n");
    Source("H_3mvps.txt", "0.0.0.0 b.example\n");
    Source("H_4plain.txt", "127.0.0.1 localhost\n127.0.0.1 c.example");
    Source("H_5last.txt", "0.0.0.0 d.example\n");
  }
  void TickOnly(const std::vector<int>& indexes) {
    for (int i = 0; i < form->MergeList->count(); ++i) Tick(i, false);
    for (int i : indexes) Tick(i, true);
  }
};

TEST_F(MergeTest, TickingRebuildsTheFileWithHeaderFirstAndFramedSources) {
  Load();
  TickOnly({0, 4});
  EXPECT_EQ(Merged(), std::string("# head\n127.0.0.1 localhost\n\n") +
                          "# [Start of H_4plain.txt entries]\n# 127.0.0.1 localhost\n" +
                          "0.0.0.0 c.example\n# [End of H_4plain.txt entries]\n" + kSeparator +
                          "\n");
  EXPECT_EQ(Info(), "Merged 10 Lines - len: " + std::to_string(Merged().size()) +
                        " - File:[ M_Hosts.txt ]");
  EXPECT_EQ(InfoColour(), form->WindowColour());
  EXPECT_EQ(form->CreateMergedHosts->text(), "Write to HOSTS");
}

TEST_F(MergeTest, TheHeaderMustBeTheFirstTickedEntry) {
  Load();
  TickOnly({0});
  const std::string before = Merged();
  TickOnly({});
  EXPECT_EQ(Info(), "You must select at least one");
  EXPECT_EQ(InfoColour(), kYellow);
  Tick(1, true);
  Tick(2, true);
  EXPECT_EQ(Info(), "You must select a Header file");
  EXPECT_EQ(InfoColour(), kYellow);
  EXPECT_EQ(Merged(), before);  // a refused merge leaves the last file alone
}

TEST_F(MergeTest, ASecondHeaderAndASecondMvpsEntryLoseTheirTicks) {
  Load();
  TickOnly({0, 1, 2, 3});
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt"}));
  EXPECT_EQ(Merged().find("second header"), std::string::npos);
  EXPECT_EQ(Merged().find("b.example"), std::string::npos);
  EXPECT_NE(Merged().find("# [Start of H_1mvps.txt entries]"), std::string::npos);

  // The same through a merge not started by a tick: the deselection's own click event must
  // not start a nested merge over the file being written.
  form->MergeList->blockSignals(true);
  Tick(2, true);
  Tick(3, true);
  form->MergeList->blockSignals(false);
  merges = 0;
  form->WriteMergeFile();
  EXPECT_EQ(merges, 1);
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_1mvps.txt"}));
  EXPECT_EQ(Merged().find("b.example"), std::string::npos);
  EXPECT_NE(Merged().find("a.example"), std::string::npos);
}

TEST_F(MergeTest, CaptionCountsPositionsAndTickedEntries) {
  Load();
  TickOnly({0});
  QSignalSpy spy(form.get(), &VellomarForm::MergeProgress);
  Tick(5, true);
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy.at(0).at(0).toString(), "0 of 2");
  EXPECT_EQ(spy.at(1).at(0).toString(), "5 of 2");
  EXPECT_EQ(spy.at(2).at(0).toString(), "Write to HOSTS");
}

TEST_F(MergeTest, RightPressTogglesTheModeAndRebuildsOncePerChange) {
  Load();
  TickOnly({0, 4});
  EXPECT_EQ(form->Use_127->text(), "Use 0.0.0.0");
  merges = 0;
  QTest::mousePress(form->Use_127, Qt::RightButton, Qt::ShiftModifier);
  EXPECT_EQ(form->Use_127->text(), "Use 127.0.0.1");
  EXPECT_EQ(form->Use127Value(), 1);
  EXPECT_EQ(merges, 1);
  EXPECT_NE(Merged().find("\n127.0.0.1 c.example"), std::string::npos);
  QTest::mousePress(form->Use_127, Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(form->Use_127->text(), "Use 0.0.0.0");
  EXPECT_EQ(merges, 2);
  QTest::mousePress(form->Use_127, Qt::MiddleButton);
  EXPECT_EQ(merges, 2);

  // A left click works as a two-state box: never the grayed state.
  form->SetUse127Value(0);
  EXPECT_EQ(form->Use_127->text(), " No Change");
  EXPECT_EQ(merges, 3);
  QTest::mouseClick(form->Use_127, Qt::LeftButton);
  EXPECT_EQ(form->Use127Value(), 1);
  QTest::mouseClick(form->Use_127, Qt::LeftButton);
  EXPECT_EQ(form->Use127Value(), 0);
  QTest::mousePress(form->Use_127, Qt::RightButton);
  EXPECT_EQ(form->Use127Value(), 1);
  form->SetUse127Value(1);  // the value it has: no event, no merge
  EXPECT_EQ(merges, 6);
  EXPECT_FALSE(testing::Exists(system.File("hosts")));  // a mode change never installs
}

TEST_F(MergeTest, AMergedFileThatCannotBeReplacedIsLoggedAndKept) {
  Load();
  TickOnly({0});
  ::unlink(program.File("M_Hosts.txt").c_str());
  ::mkdir(program.File("M_Hosts.txt").c_str(), 0755);
  testing::WriteFile(program.File("M_Hosts.txt/keep"), "x");
  Tick(5, true);
  EXPECT_EQ(Log(), "Failed to Kill " + program.File("M_Hosts.txt") + "\n");
  EXPECT_EQ(testing::ReadFile(program.File("M_Hosts.txt/keep")), "x");
}

}  // namespace
}  // namespace vellomar::app
