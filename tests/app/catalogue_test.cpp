// The source lists and the version report, driven through the window.
#include <QTest>
#include <filesystem>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

using V = std::vector<std::string>;

class CatalogueTest : public FormTest {
 protected:
  CatalogueTest() {
    Source("H_Header.txt", HeaderText("2026-12-01"));
    Source("h_ads.txt", "0.0.0.0 ads.example\n");
    Source("H_Trackers.txt", "127.0.0.1 t.example\n");
    Source("H_mvps.txt", "0.0.0.0 m.example\n");
    Source("notes.txt", "not a source\n");
  }
};

TEST_F(CatalogueTest, RefillTicksTheFirstEntryThenTheInstalledSourcesWithoutASecondMerge) {
  testing::WriteFile(system.File("hosts"),
                     HeaderText("2026-12-01", "x") + "# [Start of H_Trackers.txt entries]\n" +
                         "# [Start of h_ads.txt entries]\n# [Start of H_TRACKERS.txt entries]\n" +
                         "# [Start of H_Gone.txt entries]\n# [Start of H_Trackers.txt entries]\n");
  Load();
  // Both lists hold the sources, sorted without regard to case.
  const V names = {"h_ads.txt", "H_Header.txt", "H_mvps.txt", "H_Trackers.txt"};
  ASSERT_EQ(form->FileList->count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(FromQ(form->FileList->item(i)->text()), names[i]);
    EXPECT_EQ(FromQ(form->MergeList->item(i)->text()), names[i]);
  }
  EXPECT_EQ(form->SourceFolder(), program.File("Hostfiles"));
  EXPECT_EQ(Ticked(), (V{"h_ads.txt", "H_Trackers.txt"}));

  // The first entry is not a header, so its merge is refused; the restored selection starts
  // none; the start-up merge then refuses too.
  EXPECT_EQ(merges, 0);
  EXPECT_EQ(Info(), "Admin User");

  // A refill drops the user's ticks and restores the first entry and the installed sources.
  Tick(0, false);
  Tick(1, true);
  EXPECT_EQ(merges, 1);  // now the header is the first ticked entry
  form->RefreshListButton_Click();
  EXPECT_EQ(Ticked(), (V{"h_ads.txt", "H_Trackers.txt"}));
  EXPECT_EQ(Info(), "You must select a Header file");
}

TEST_F(CatalogueTest, ClearMergeListStartsExactlyOneMergeAndTheRefreshOneMore) {
  ::unlink(program.File("Hostfiles/h_ads.txt").c_str());
  testing::WriteFile(system.File("hosts"),
                     HeaderText("2026-12-01") + "# [Start of H_Trackers.txt entries]\n");
  VellomarForm& window = Load();
  EXPECT_EQ(Ticked(), (V{"H_Header.txt", "H_Trackers.txt"}));
  merges = 0;
  window.ClearMergeList();
  EXPECT_EQ(merges, 1);  // only the tick of the first entry merges
  merges = 0;
  window.RefreshListButton_Click();
  EXPECT_EQ(merges, 2);  // the refill's own merge, then the one over the whole selection
  EXPECT_NE(Merged().find("# [Start of H_Trackers.txt entries]"), std::string::npos);
}

TEST_F(CatalogueTest, AMissingFolderKeepsThePreviousOneAndEmptyListsRefuseTheMerge) {
  Load();
  ASSERT_EQ(form->FileList->count(), 4);
  std::filesystem::rename(program.File("Hostfiles"), program.File("Moved"));
  form->ClearMergeList();
  // The list stays on its previous folder, which no longer exists: both lists are empty.
  EXPECT_EQ(form->SourceFolder(), program.File("Hostfiles"));
  EXPECT_EQ(form->MergeList->count(), 0);
  form->WriteMergeFile();
  EXPECT_EQ(Info(), "You must select at least one");
  EXPECT_EQ(InfoColour(), kYellow);
}

TEST_F(CatalogueTest, FileClicksShowTheSummaryAndOpenTheFileWithoutTouchingTheTicks) {
  Load();
  const V ticked = Ticked();
  form->FileList->setCurrentRow(3);
  form->FileList_Click();
  EXPECT_EQ(Info(), "2 Lines - len: 20");
  form->FileList_DblClick();
  ASSERT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(launcher.records[0].kind, testing::LaunchRecord::Kind::kShellOpen);
  EXPECT_EQ(launcher.records[0].argv, V{program.File("Hostfiles/H_Trackers.txt")});
  ::unlink(program.File("Hostfiles/H_Trackers.txt").c_str());
  form->FileList_DblClick();
  EXPECT_EQ(launcher.records.size(), 1u);  // a file gone since the listing opens nothing
  EXPECT_EQ(Ticked(), ticked);
}

class VersionTest : public FormTest {
 protected:
  VersionTest() { Source("H_Header.txt", HeaderText("2026-12-01")); }
  QColor MergedColour() const { return VellomarForm::BackColor(form->MergedVersionText); }
};

TEST_F(VersionTest, MergedBoxIsYellowExactlyWhenTheDatesDiffer) {
  testing::WriteFile(system.File("hosts"), "# placeholder\n");
  Load();
  // Installed hosts has no dated lines: the two default texts differ.
  EXPECT_EQ(form->CurrentCreated(), "Missing or non MVPS HOSTS File");
  EXPECT_EQ(form->MergedUpdated(), "2026-12-01");
  EXPECT_EQ(form->MergedCreated(), "07/12/2026 01:02:03");
  EXPECT_EQ(MergedColour(), kYellow);
  EXPECT_EQ(
      FromQ(form->MergedVersionText->toPlainText()),
      "# ------- Updated: 2026-12-01 -------\n# ------- Created: 07/12/2026 01:02:03 -------\n");

  // The merged file installed: equal dates, window colour.
  std::filesystem::copy_file(program.File("M_Hosts.txt"), system.File("hosts"),
                             std::filesystem::copy_options::overwrite_existing);
  form->GetHostVersion(0);
  EXPECT_EQ(MergedColour(), form->WindowColour());
  EXPECT_EQ(form->CurrentVersionText->toPlainText(), form->MergedVersionText->toPlainText());
  EXPECT_EQ(FromQ(form->CurrentHostsFileInfo->text()), form->GetFileInfo(system.File("hosts")));

  // Index 2 compares against the installed side as last read.
  Source("H_Header.txt", HeaderText("2026-12-02"));
  form->WriteMergeFile();
  EXPECT_EQ(MergedColour(), kYellow);
  EXPECT_EQ(form->CurrentUpdated(), "2026-12-01");
}

TEST_F(VersionTest, NoDatedLinesOnBothSidesStillDiffer) {
  Source("H_Header.txt", std::string(120, '#') + "\n127.0.0.1 localhost\n");
  Load();
  std::filesystem::copy_file(program.File("M_Hosts.txt"), system.File("hosts"));
  form->GetHostVersion(0);
  EXPECT_EQ(form->CurrentUpdated(), "Missing or non MVPS HOSTS File");
  EXPECT_EQ(form->MergedUpdated(), "Missing or non ZR HOSTS File");
  EXPECT_EQ(MergedColour(), kYellow);
}

TEST_F(VersionTest, ShortFilesAreNotReadAndEachIndexRefreshesItsSide) {
  testing::WriteFile(system.File("hosts"), "127.0.0.1 localhost\n");  // shorter than 100 bytes
  Load();
  EXPECT_EQ(form->CurrentHostsFileInfo->text(), "");
  EXPECT_EQ(form->CurrentVersionText->toPlainText(), "");
  const QString summary = form->MergedHostsFileInfo->text();
  EXPECT_FALSE(summary.isEmpty());
  testing::WriteFile(program.File("M_Hosts.txt"), std::string(99, 'x'));
  form->GetHostVersion(2);
  EXPECT_EQ(form->MergedVersionText->toPlainText(), "");
  EXPECT_EQ(MergedColour(), kYellow);
  EXPECT_EQ(form->MergedHostsFileInfo->text(), summary);  // keeps its previous caption

  testing::WriteFile(system.File("hosts"), HeaderText("2026-11-11", "old") + std::string(100, '#'));
  const std::string merged_updated = form->MergedUpdated();
  form->CurrentHostsFileInfo_Click();  // index 1: installed side only
  EXPECT_EQ(form->CurrentUpdated(), "2026-11-11");
  EXPECT_EQ(form->MergedUpdated(), merged_updated);
  EXPECT_EQ(form->MergedVersionText->toPlainText(), "");
}

TEST_F(VersionTest, LabelsOpenTheirFileInTheEditorAsProgramAndOneArgument) {
  Load();
  form->Label2_DblClick();
  ASSERT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(launcher.records[0].argv, (V{system.File("editor"), program.File("M_Hosts.txt")}));
  EXPECT_EQ(launcher.records[0].style, platform::WindowStyle::kNormalFocus);
  form->Label1_DblClick();  // no hosts file: nothing starts
  EXPECT_EQ(launcher.records.size(), 1u);
  ::unlink(program.File("M_Hosts.txt").c_str());
  form->Label2_DblClick();
  EXPECT_EQ(launcher.records.size(), 1u);
}

}  // namespace
}  // namespace vellomar::app
