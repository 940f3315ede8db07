// Installing the merged file, the verdict, the command menu and drops, through the window.
#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

class InstallTest : public FormTest {
 protected:
  InstallTest() {
    Source("H_Header.txt", HeaderText("2026-12-01"));
    Hosts("127.0.0.1 localhost\n# the old hosts file\n");
    Load();
  }
  long Flushes() const {
    return std::ranges::count(Launched(), V{Sys("resolvectl"), "flush-caches"});
  }
};

TEST_F(InstallTest, WriteButtonMergesInstallsAndFlushesOnlyWhenTicked) {
  Source("H_Header.txt", HeaderText("2026-12-05"));
  form->CreateMergedHosts_Click();
  EXPECT_NE(Merged().find("2026-12-05"), std::string::npos);  // merged first
  EXPECT_EQ(testing::ReadFile(Sys("hosts")), Merged());
  EXPECT_EQ(Info(), "Done " + form->session().FileSummary(form->session().MergedFilePath()) +
                        " - Copied to HOSTS");
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Colour(form->MergedVersionText), VellomarForm::ColourOf(view::ColourRole::kWindow));
  EXPECT_EQ(Flushes(), 1);
  form->AutoFlushDns->setChecked(false);
  form->CreateMergedHosts_Click();
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Flushes(), 1);  // unticked: no flush
}

TEST_F(InstallTest, MenuHoldsItsItemsAndRunsTheirCommands) {
  VellomarMenus& menus = form->Menus();
  V captions;
  for (QAction* item : menus.Mnu_File->actions()) {
    captions.push_back(item->isSeparator() ? "-" : FromQ(item->text()));
  }
  EXPECT_EQ(captions,
            (V{"Check Host Version", "Update HOSTS file from Application Path", "-",
               "Show Current DNS", "Show Current DNS in Notepad", "Flush Dns Now", "-",
               "Stop Dns Cache service", "Start Dns Cache Service", "-",
               "Enable Drag and Drop 'hosts' File Replace", kWebLinkAddress, "-", "&Exit"}));
  EXPECT_EQ(menus.Mnu_File->title(), "&File");
  EXPECT_TRUE(menus.Mnu_HostFileUpdate->isVisible());
  EXPECT_FALSE(menus.Mnu_EnableDnD->isEnabled());
  EXPECT_FALSE(menus.Mnu_OpenDnsNotepad->isChecked());

  // Update installs the merged file; Check then refreshes the installed side only.
  menus.Mnu_HostFileUpdate->trigger();
  EXPECT_EQ(testing::ReadFile(Sys("hosts")), Merged());
  Hosts(HeaderText("2026-09-09") + std::string(100, '#'));
  testing::WriteFile(P("M_Hosts.txt"), HeaderText("2026-10-10") + std::string(100, '#'));
  menus.Mnu_HostFileCheck->trigger();
  EXPECT_EQ(form->session().CurrentUpdated(), "2026-09-09");
  EXPECT_EQ(form->session().MergedUpdated(), "2026-12-01");
  menus.Mnu_WebLink->trigger();
  EXPECT_EQ(Launched().back(), (V{"open", kWebLinkAddress}));
  testing::WriteFile(P("read.sh"), "x");
  testing::WriteFile(P("displaydns.txt"), "x");
  menus.Mnu_Exit->trigger();
  EXPECT_FALSE(testing::Exists(P("read.sh")) || testing::Exists(P("displaydns.txt")));
}

TEST_F(InstallTest, UpdateItemIsAbsentForTheRunWhenNoMergedFileExistedAtLoad) {
  ::unlink(P("Hostfiles/H_Header.txt").c_str());
  ::unlink(P("M_Hosts.txt").c_str());
  Load();
  EXPECT_FALSE(form->Menus().Mnu_HostFileUpdate->isVisible());
  Source("H_Header.txt", HeaderText("2026-12-01"));
  form->RefreshListButton_Click();
  ASSERT_TRUE(testing::Exists(P("M_Hosts.txt")));
  EXPECT_FALSE(form->Menus().Mnu_HostFileUpdate->isVisible());
}

TEST_F(InstallTest, DropsOnTheWindowChangeNothingAndDropsOnTheReportShowTheFirstFile) {
  testing::WriteFile(Sys("first.txt"), "first\n");
  testing::WriteFile(Sys("second.txt"), "second\n");
  QMimeData data;
  data.setUrls(
      {QUrl::fromLocalFile(ToQ(Sys("first.txt"))), QUrl::fromLocalFile(ToQ(Sys("second.txt")))});
  auto drop_on = [&data](QWidget* target) {  // a real drag-enter, then the drop
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
  };
  drop_on(form.get());
  EXPECT_EQ(testing::ReadFile(Sys("hosts")), "127.0.0.1 localhost\n# the old hosts file\n");
  EXPECT_FALSE(testing::Exists(Sys("hosts.ZRB")));
  drop_on(form->DisplayDnsText->viewport());
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "first\n");
}

}  // namespace
}  // namespace vellomar::app
