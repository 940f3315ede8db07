// Installing the merged file, the verdict, the command menu and drops, through the window.
#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

using V = std::vector<std::string>;
using testing::LaunchRecord;

class InstallTest : public FormTest {
 protected:
  InstallTest() {
    Source("H_Header.txt", HeaderText("2026-12-01"));
    Source("H_zads.txt", "127.0.0.1 ads.example\n");
    testing::WriteFile(system.File("hosts"), "127.0.0.1 localhost\n# the old hosts file\n");
  }
  int Flushes() const {
    int count = 0;
    for (const auto& record : launcher.records) {
      if (record.argv == V{system.File("resolvectl"), "flush-caches"}) ++count;
    }
    return count;
  }
  QColor Colour(QWidget* box) const { return VellomarForm::BackColor(box); }
};

TEST_F(InstallTest, WriteButtonMergesInstallsWithBackupAndFlushesOnce) {
  Load();
  Tick(1, true);
  form->CreateMergedHosts_Click();
  EXPECT_EQ(testing::ReadFile(system.File("hosts")), Merged());
  EXPECT_EQ(testing::ReadFile(system.File("hosts.ZRB")),
            "127.0.0.1 localhost\n# the old hosts file\n");
  EXPECT_NE(Merged().find("0.0.0.0 ads.example"), std::string::npos);
  EXPECT_EQ(Info(), "Done " + form->GetFileInfo(form->MergedFilePath()) + " - Copied to HOSTS");
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Colour(form->MergedVersionText), form->WindowColour());
  EXPECT_EQ(Flushes(), 1);
  EXPECT_EQ(launcher.records.back().style, platform::WindowStyle::kMinimizedNoFocus);
  EXPECT_FALSE(testing::Exists(program.File("vellomar_Log.txt")));
  EXPECT_EQ(Ticked(), (V{"H_Header.txt", "H_zads.txt"}));

  form->AutoFlushDns->setChecked(false);
  form->CreateMergedHosts_Click();
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Flushes(), 1);  // unticked: no flush
}

TEST_F(InstallTest, VerdictFailsOnDifferentVersionsAndOnDifferentBytes) {
  Load();
  // The versions differ.
  testing::WriteFile(system.File("hosts"), HeaderText("2025-01-01", "old") + std::string(100, '#'));
  form->GetHostVersion(0);
  form->TestAndRefresh();
  EXPECT_EQ(Info(), "You may need to run as Administrator HOSTS Write Failed");
  EXPECT_EQ(InfoColour(), kRed);
  EXPECT_EQ(Colour(form->CurrentVersionText), kYellow);
  EXPECT_EQ(Colour(form->MergedVersionText), kYellow);

  // Same dated lines, other bytes: a copy that did not happen is no success.
  testing::WriteFile(system.File("hosts"), Merged() + "0.0.0.0 extra.example\n");
  form->GetHostVersion(0);
  EXPECT_EQ(form->CurrentVersionText->toPlainText(), form->MergedVersionText->toPlainText());
  form->TestAndRefresh();
  EXPECT_EQ(InfoColour(), kRed);
  EXPECT_EQ(Flushes(), 0);

  std::filesystem::copy_file(form->MergedFilePath(), system.File("hosts"),
                             std::filesystem::copy_options::overwrite_existing);
  form->GetHostVersion(0);
  form->TestAndRefresh();
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Flushes(), 1);
}

TEST_F(InstallTest, MenuHoldsItsItemsAndAdaptsOncePerRun) {
  Load();
  EXPECT_FALSE(form->MenusLoaded());  // loaded on first touch only
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
  EXPECT_EQ(menus.windowTitle(), "Menus");
  EXPECT_FALSE(menus.isVisible());
  EXPECT_TRUE(menus.Mnu_HostFileUpdate->isVisible());
  EXPECT_FALSE(menus.Mnu_EnableDnD->isEnabled());
  EXPECT_FALSE(menus.Mnu_EnableDnD->isChecked());
  EXPECT_TRUE(menus.Mnu_OpenDnsNotepad->isCheckable());
  EXPECT_FALSE(menus.Mnu_OpenDnsNotepad->isChecked());
  for (QAction* item : menus.Mnu_File->actions()) EXPECT_TRUE(item->shortcut().isEmpty());

  // Deleting the merged file later changes nothing; the install then fails visibly.
  ::unlink(program.File("M_Hosts.txt").c_str());
  menus.Mnu_HostFileUpdate->trigger();
  EXPECT_TRUE(menus.Mnu_HostFileUpdate->isVisible());
  EXPECT_EQ(InfoColour(), kRed);
}

TEST_F(InstallTest, UpdateItemIsAbsentForTheRunWhenNoMergedFileExistedAtLoad) {
  ::unlink(program.File("Hostfiles/H_Header.txt").c_str());
  Load();
  ASSERT_FALSE(testing::Exists(program.File("M_Hosts.txt")));
  EXPECT_FALSE(form->Menus().Mnu_HostFileUpdate->isVisible());
  Source("H_Header.txt", HeaderText("2026-12-01"));
  form->RefreshListButton_Click();
  ASSERT_TRUE(testing::Exists(program.File("M_Hosts.txt")));
  EXPECT_FALSE(form->Menus().Mnu_HostFileUpdate->isVisible());
}

TEST_F(InstallTest, MenuItemsRunTheirCommands) {
  Load();
  VellomarMenus& menus = form->Menus();
  // Install without a merge: the merged file as it stands goes over hosts.
  testing::WriteFile(program.File("M_Hosts.txt"), HeaderText("2026-10-10") + std::string(100, '#'));
  menus.Mnu_HostFileUpdate->trigger();
  EXPECT_EQ(testing::ReadFile(system.File("hosts")), Merged());
  EXPECT_EQ(InfoColour(), kGreen);

  testing::WriteFile(system.File("hosts"), HeaderText("2026-09-09") + std::string(100, '#'));
  menus.Mnu_HostFileCheck->trigger();
  EXPECT_EQ(form->CurrentUpdated(), "2026-09-09");
  EXPECT_EQ(form->MergedUpdated(), "2026-10-10");

  launcher.records.clear();
  menus.Mnu_WebLink->trigger();
  ASSERT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(launcher.records[0].kind, LaunchRecord::Kind::kShellOpen);
  EXPECT_EQ(launcher.records[0].argv, V{kWebLinkAddress});

  testing::WriteFile(program.File("read.sh"), "x");
  testing::WriteFile(program.File("displaydns.txt"), "x");
  menus.Mnu_Exit->trigger();
  EXPECT_FALSE(testing::Exists(program.File("read.sh")));
  EXPECT_FALSE(testing::Exists(program.File("displaydns.txt")));
  EXPECT_TRUE(testing::Exists(program.File("M_Hosts.txt")));
}

TEST_F(InstallTest, DropsOnTheWindowChangeNothingAndDropsOnTheReportShowTheFile) {
  Load();
  const std::string hosts = testing::ReadFile(system.File("hosts"));
  const V ticked = Ticked();
  testing::WriteFile(system.File("dropped.txt"), "dropped text\n");
  testing::WriteFile(system.File("second.txt"), "second\n");
  const QStringList files = {ToQ(system.File("dropped.txt")), ToQ(system.File("second.txt"))};
  form->Form_OLEDragDrop(files);
  EXPECT_EQ(testing::ReadFile(system.File("hosts")), hosts);
  EXPECT_EQ(Ticked(), ticked);
  EXPECT_FALSE(testing::Exists(system.File("hosts.ZRB")));

  form->DisplayDnsText_OLEDragDrop(files);
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "dropped text\n");
  form->DisplayDnsText_OLEDragDrop({});
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "dropped text\n");

  // A real drop event on the box arrives the same way.
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(ToQ(system.File("second.txt")))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form->DisplayDnsText->viewport(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(form->DisplayDnsText->viewport(), &drop);
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "second\n");
}

}  // namespace
}  // namespace vellomar::app
