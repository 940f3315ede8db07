// The DNS cache tools through the window: flush, service, capture and report.
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <thread>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

using V = std::vector<std::string>;
using testing::LaunchRecord;

class DnsTest : public FormTest {
 protected:
  std::string Capture() const { return program.File("displaydns.txt"); }
  std::string Script() const { return program.File("read.sh"); }
};

// Keeps a file from being deleted for the life of the object, where this can be arranged.
class Undeletable {
 public:
  explicit Undeletable(std::string path) : path_(std::move(path)) {
    ok_ = std::system(("chattr +i '" + path_ + "' 2>/dev/null").c_str()) == 0;
  }
  ~Undeletable() {
    if (ok_) std::system(("chattr -i '" + path_ + "'").c_str());
  }
  bool ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_ = false;
};

TEST_F(DnsTest, FlushAndServiceCommandsStartWithoutWaiting) {
  Load();
  launcher.records.clear();
  form->Menus().Mnu_FlushDns->trigger();
  form->Menus().Mnu_StopDnsService->trigger();
  form->Menus().Mnu_StartDnsService->trigger();
  ASSERT_EQ(launcher.records.size(), 3u);
  EXPECT_EQ(launcher.records[0].argv, (V{system.File("resolvectl"), "flush-caches"}));
  EXPECT_EQ(launcher.records[1].argv, (V{"systemctl", "stop", "systemd-resolved"}));
  EXPECT_EQ(launcher.records[2].argv, (V{"systemctl", "start", "systemd-resolved"}));
  for (const auto& record : launcher.records) {
    EXPECT_EQ(record.style, platform::WindowStyle::kMinimizedNoFocus);
  }
}

TEST_F(DnsTest, AModifierKeyOnAutoFlushFlushesAndTicksAPlainClickOnlyToggles) {
  Load();
  launcher.records.clear();
  QTest::mouseClick(form->AutoFlushDns, Qt::LeftButton);
  EXPECT_TRUE(launcher.records.empty());
  EXPECT_EQ(form->AutoFlushDnsValue(), 0);
  form->AutoFlushDns_MouseDown(kRightButton, kCtrlMask);
  EXPECT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(form->AutoFlushDnsValue(), 1);
}

TEST_F(DnsTest, CaptureWritesAPrivateTwoLineScriptAndStartsWaiting) {
  Load();
  testing::WriteFile(Capture(), "old listing\n@finishednow@\n");
  launcher.records.clear();
  form->Menus().Mnu_ShowDns->trigger();
  EXPECT_FALSE(testing::Exists(Capture()));
  EXPECT_EQ(testing::ReadFile(Script()), system.File("resolvectl") +
                                             " show-cache >> displaydns.txt\n"
                                             "echo @finishednow@ >> displaydns.txt\n");
  EXPECT_EQ(::access(Script().c_str(), X_OK), 0);
  ASSERT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(launcher.records[0].argv, (V{"/bin/sh", Script()}));
  EXPECT_EQ(launcher.records[0].style, platform::WindowStyle::kMinimizedFocus);
  EXPECT_EQ(launcher.records[0].working_folder, program.path());
  EXPECT_TRUE(form->DeleteTimer->isActive());
  EXPECT_FALSE(form->Menus().Mnu_ShowDns->isEnabled());

  // A second capture while one is pending starts over with a fresh script.
  testing::WriteFile(Capture(), "partial");
  form->Menus().Mnu_OpenDnsNotepad->trigger();  // ticks the item and captures again
  EXPECT_TRUE(form->Menus().Mnu_OpenDnsNotepad->isChecked());
  EXPECT_EQ(launcher.records.size(), 2u);
  EXPECT_FALSE(testing::Exists(Capture()));
  EXPECT_TRUE(form->DeleteTimer->isActive());
  EXPECT_FALSE(form->Menus().Mnu_ShowDns->isEnabled());
  form->Menus().Mnu_OpenDnsNotepad->trigger();  // unticking starts nothing
  EXPECT_EQ(launcher.records.size(), 2u);
}

TEST_F(DnsTest, WithoutTheResolverToolOldFilesGoAndNothingStartsOrFlushes) {
  ::unlink(system.File("resolvectl").c_str());
  Load();
  testing::WriteFile(Capture(), "x");
  testing::WriteFile(Script(), "x");
  launcher.records.clear();
  form->DoFlush();
  form->DoDnsDisplay();
  EXPECT_TRUE(launcher.records.empty());
  EXPECT_FALSE(testing::Exists(Capture()));
  EXPECT_FALSE(testing::Exists(Script()));
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
}

TEST_F(DnsTest, CaptureFilesThatCannotBeDeletedAreLogged) {
  Load();
  testing::WriteFile(Capture(), "x");
  testing::WriteFile(Script(), "x");
  Undeletable capture(Capture());
  Undeletable script(Script());
  if (!capture.ok() || !script.ok()) GTEST_SKIP() << "needs root on a file system with chattr";
  form->DoDnsDisplay();
  EXPECT_EQ(Log(), "Failed to Kill displaydns.txt\nFailed to Kill " + Script() + "\n");
  EXPECT_EQ(testing::ReadFile(Script()), "x");  // never written through
  EXPECT_TRUE(form->DeleteTimer->isActive());
}

TEST_F(DnsTest, TimerTickWaitsForTheMarkerThenShowsTheReport) {
  Load();
  form->DoDnsDisplay();
  form->DeleteTimer_Timer();  // no capture file yet
  EXPECT_TRUE(form->DeleteTimer->isActive());
  testing::WriteFile(Capture(), "example.org IN A 93.184.216.34\n");
  form->DeleteTimer_Timer();  // no marker yet
  EXPECT_TRUE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->DisplayDnsText->isHidden());

  testing::WriteFile(Capture(), "example.org IN A 93.184.216.34\n@finishednow@\n");
  form->DeleteTimer_Timer();
  EXPECT_EQ(form->DisplayDnsText->toPlainText(),
            QString(" example.org").leftJustified(45) + "\t93.184.216.34\n");
  EXPECT_FALSE(form->DisplayDnsText->isHidden());
  EXPECT_EQ(VellomarForm::BackColor(form->DisplayDnsText), form->WindowColour());
  EXPECT_FALSE(testing::Exists(Script()));
  EXPECT_TRUE(testing::Exists(Capture()));
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());

  // A double click hides the box; on a yellow box it first opens the whole capture.
  launcher.records.clear();
  form->DisplayDnsText_DblClick();
  EXPECT_TRUE(form->DisplayDnsText->isHidden());
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "");
  EXPECT_TRUE(launcher.records.empty());
  VellomarForm::SetBackColor(form->DisplayDnsText, kYellow);
  form->DisplayDnsText_DblClick();
  ASSERT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(launcher.records[0].argv, V{Capture()});
}

TEST_F(DnsTest, NotepadModeOpensTheCaptureAndLeavesTheBoxHidden) {
  Load();
  form->Menus().Mnu_OpenDnsNotepad->trigger();
  testing::WriteFile(Capture(), "@finishednow@\n");
  launcher.records.clear();
  form->DeleteTimer_Timer();
  ASSERT_EQ(launcher.records.size(), 1u);
  EXPECT_EQ(launcher.records[0].kind, LaunchRecord::Kind::kShellOpen);
  EXPECT_EQ(launcher.records[0].argv, V{Capture()});
  EXPECT_TRUE(form->DisplayDnsText->isHidden());
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "");
  EXPECT_FALSE(form->DeleteTimer->isActive());
}

TEST_F(DnsTest, ARealCaptureWithAFakeResolverToolEndsInTheTable) {
  const std::string tool = system.File("resolvectl");
  testing::WriteFile(tool,
                     "#!/bin/sh\n[ \"$1\" = show-cache ] || exit 1\n"
                     "printf 'Scope protocol=dns ifindex=2 ifname=eth0\\n'\n"
                     "printf 'example.org IN A 93.184.216.34\\n'\n"
                     "printf 'www.example.org IN CNAME example.org\\n'\n");
  ::chmod(tool.c_str(), 0755);
  auto real_launcher = platform::CreateSystemLauncher();
  Environment env = Env();
  env.launcher = real_launcher.get();
  form = std::make_unique<VellomarForm>(env);
  form->Form_Load();
  form->DoDnsDisplay();
  for (int i = 0; i < 250 && !form->DisplayDnsText->isVisibleTo(form.get()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    form->DeleteTimer_Timer();
  }
  EXPECT_EQ(form->DisplayDnsText->toPlainText(),
            QString(" example.org").leftJustified(45) + "\t93.184.216.34\n" +
                QString(" www.example.org").leftJustified(45) + "\n");
  EXPECT_FALSE(testing::Exists(Script()));
}

}  // namespace
}  // namespace vellomar::app
