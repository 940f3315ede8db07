// The source lists and the version report, driven through the window.
#include <QTest>
#include <filesystem>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

class CatalogueTest : public FormTest {
 protected:
  CatalogueTest() {
    Source("H_Header.txt", HeaderText("2026-12-01"));
    Source("H_Trackers.txt", "127.0.0.1 t.example\n");
    Source("H_mvps.txt", "0.0.0.0 m.example\n");
    Source("notes.txt", "not a source\n");
  }
};

// The lists show the session's entries and ticks; a refresh redraws them, an emptied folder
// empties both.
TEST_F(CatalogueTest, TheListsFollowRefreshesAndAMissingFolderEmptiesBoth) {
  Hosts(HeaderText("2026-12-01") + "# [Start of H_Trackers.txt entries]\n");
  Load();
  EXPECT_EQ(Ticked(), (V{"H_Header.txt", "H_Trackers.txt"}));
  Source("H_New.txt", "0.0.0.0 n.example\n");
  form->RefreshListButton_Click();
  EXPECT_EQ(Items(form->FileList),
            (V{"H_Header.txt", "H_mvps.txt", "H_New.txt", "H_Trackers.txt"}));
  EXPECT_EQ(Ticked(), (V{"H_Header.txt", "H_Trackers.txt"}));

  std::filesystem::rename(P("Hostfiles"), P("Moved"));
  form->RefreshListButton_Click();
  EXPECT_EQ(form->session().SourceFolder(), P("Hostfiles"));
  EXPECT_EQ(form->MergeList->count() + form->FileList->count(), 0);
  form->MergeList_Click();
  EXPECT_EQ(Info(), "You must select at least one");
  EXPECT_EQ(InfoColour(), kYellow);
}

TEST_F(CatalogueTest, MergedBoxIsYellowExactlyWhenTheDatesDiffer) {
  Hosts("# placeholder\n");  // no dated lines: the installed side's default texts
  Load();
  EXPECT_EQ(Colour(form->MergedVersionText), kYellow);
  Hosts(Merged());  // installed: equal dates, window colour
  form->GetHostVersion(0);
  EXPECT_EQ(Colour(form->MergedVersionText), VellomarForm::ColourOf(view::ColourRole::kWindow));
  EXPECT_EQ(form->CurrentVersionText->toPlainText(), form->MergedVersionText->toPlainText());
  Source("H_Header.txt", HeaderText("2026-12-02"));
  form->MergeList_Click();
  EXPECT_EQ(Colour(form->MergedVersionText), kYellow);
}

TEST_F(CatalogueTest, ShortFilesAreNotReadAndEachIndexRefreshesOnlyItsSide) {
  Hosts("127.0.0.1 localhost\n");  // shorter than 100 bytes
  Load();
  EXPECT_EQ(form->CurrentHostsFileInfo->text(), "");
  EXPECT_EQ(form->CurrentVersionText->toPlainText(), "");
  const QString summary = form->MergedHostsFileInfo->text();
  ASSERT_FALSE(summary.isEmpty());
  Hosts(HeaderText("2026-11-11", "old") + std::string(100, '#'));
  testing::WriteFile(P("M_Hosts.txt"), std::string(99, 'x'));
  form->MergedHostsFileInfo_Click();  // index 2: merged side only
  EXPECT_EQ(form->MergedVersionText->toPlainText(), "");
  EXPECT_EQ(Colour(form->MergedVersionText), kYellow);
  EXPECT_EQ(form->MergedHostsFileInfo->text(), summary);  // keeps its previous caption
  EXPECT_EQ(form->CurrentHostsFileInfo->text(), "");
  form->CurrentHostsFileInfo_Click();  // index 1: installed side only
  EXPECT_EQ(form->session().CurrentUpdated(), "2026-11-11");
  EXPECT_EQ(form->session().MergedUpdated(), "2026-12-01");  // from the last readable merged file
  EXPECT_EQ(form->MergedVersionText->toPlainText(), "");
}

TEST_F(CatalogueTest, ClicksShowTheSummaryAndDoubleClicksOpenTheFileWithoutTouchingTheTicks) {
  Load();
  form->FileList->setCurrentRow(2);
  form->FileList_Click();
  EXPECT_EQ(Info(), "2 Lines - len: 20");
  form->FileList_DblClick();  // through the system's file association
  form->Label2_DblClick();    // in the editor, as program and one argument
  form->Label1_DblClick();    // no hosts file: nothing starts
  ::unlink(P("Hostfiles/H_Trackers.txt").c_str());
  ::unlink(P("M_Hosts.txt").c_str());
  form->FileList_DblClick();  // files gone since: nothing starts
  form->Label2_DblClick();
  EXPECT_EQ(Launched(),
            (Runs{{"open", P("Hostfiles/H_Trackers.txt")}, {Sys("editor"), P("M_Hosts.txt")}}));
  EXPECT_EQ(launcher.records[1].style, platform::WindowStyle::kNormalFocus);
  EXPECT_EQ(Ticked(), V{"H_Header.txt"});
}

// File names are bytes: a Latin-1 name goes from the listing to the read, the marker, the
// summary and the editor unchanged, however the list shows it; real clicks tick it.
TEST_F(CatalogueTest, ANameThatIsNotUtf8KeepsItsBytesFromListToMarker) {
  const std::string name = "H_x\xE9.txt";
  Source(name, "0.0.0.0 cafe.example\n");
  Load();
  const int row = 3;  // the last
  ASSERT_EQ(form->MergeList->count(), 4);
  form->MergeList->scrollToItem(form->MergeList->item(row));
  QTest::mouseClick(form->MergeList->viewport(), Qt::LeftButton, {},
                    form->MergeList->visualItemRect(form->MergeList->item(row)).center());
  EXPECT_EQ(form->MergeList->item(row)->checkState(), Qt::Checked);
  EXPECT_NE(Merged().find("# [Start of " + name + " entries]\n0.0.0.0 cafe.example\n"),
            std::string::npos);
  form->FileList->setCurrentRow(row);
  form->FileList_Click();
  EXPECT_EQ(Info(), "2 Lines - len: 21");
  launcher.records.clear();
  form->FileList_DblClick();
  EXPECT_EQ(Launched(), (Runs{{"open", P("Hostfiles/" + name)}}));
  // The installed file names it again at the next start.
  Hosts(Merged());
  Load();
  EXPECT_EQ(form->MergeList->item(row)->checkState(), Qt::Checked);
}

}  // namespace
}  // namespace vellomar::app
