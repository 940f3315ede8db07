// The DNS cache tools through the window: flush, service, capture and report.
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <filesystem>
#include <thread>

#include "form_fixture.h"

namespace vellomar::app {
namespace {

using platform::WindowStyle;

class DnsTest : public FormTest {
 protected:
  DnsTest() { Load(); }
  std::string Capture() const { return P("displaydns.txt"); }
  std::string Script() const { return P("read.sh"); }
};

// Sets or clears a file's immutable flag; false where that cannot be arranged.
bool Immutable(const std::string& path, bool on) {
  return std::system(((on ? "chattr +i '" : "chattr -i '") + path + "' 2>&-").c_str()) == 0;
}

TEST_F(DnsTest, FlushAndServiceCommandsStartMinimizedAndAModifiedPressOnAutoFlushFlushes) {
  QTest::mouseClick(form->AutoFlushDns, Qt::LeftButton);  // a plain click only toggles
  EXPECT_EQ(form->AutoFlushDnsValue(), 0);
  QTest::mousePress(form->AutoFlushDns, Qt::RightButton, Qt::ControlModifier);
  EXPECT_EQ(form->AutoFlushDnsValue(), 1);
  form->Menus().Mnu_StopDnsService->trigger();
  form->Menus().Mnu_StartDnsService->trigger();
  form->Menus().Mnu_FlushDns->trigger();
  const V flush = {Sys("resolvectl"), "flush-caches"};
  const V stop = {"systemctl", "stop", "systemd-resolved"};
  EXPECT_EQ(Launched(), (Runs{flush, stop, {"systemctl", "start", "systemd-resolved"}, flush}));
  for (const auto& r : launcher.records) EXPECT_EQ(r.style, WindowStyle::kMinimizedNoFocus);
}

TEST_F(DnsTest, CaptureRunsAPrivateScriptAndTheTickShowsTheReportOnceTheMarkerArrives) {
  testing::WriteFile(Capture(), "old listing\n@finishednow@\n");
  form->Menus().Mnu_ShowDns->trigger();
  EXPECT_FALSE(testing::Exists(Capture()));
  EXPECT_EQ(testing::ReadFile(Script()), Sys("resolvectl") +
                                             " show-cache >> displaydns.txt\n"
                                             "echo @finishednow@ >> displaydns.txt\n");
  EXPECT_EQ(std::filesystem::status(Script()).permissions(), std::filesystem::perms::owner_all);
  EXPECT_EQ(launcher.records[0].style, WindowStyle::kMinimizedFocus);
  EXPECT_EQ(launcher.records[0].working_folder, program.path());
  EXPECT_TRUE(form->DeleteTimer->isActive());
  EXPECT_FALSE(form->Menus().Mnu_ShowDns->isEnabled());
  testing::WriteFile(Capture(), "partial");  // a second capture while one is pending
  form->DoDnsDisplay();
  EXPECT_EQ(Launched(), (Runs{{"/bin/sh", Script()}, {"/bin/sh", Script()}}));
  EXPECT_FALSE(testing::Exists(Capture()));

  form->DeleteTimer_Timer();  // no capture file yet
  testing::WriteFile(Capture(), "example.org IN A 93.184.216.34\n");
  form->DeleteTimer_Timer();  // no marker yet
  EXPECT_TRUE(form->DeleteTimer->isActive() && form->DisplayDnsText->isHidden());
  EXPECT_TRUE(testing::Exists(Script()));
  testing::WriteFile(Capture(), "example.org IN A 93.184.216.34\n@finishednow@\n");
  form->DeleteTimer_Timer();
  EXPECT_EQ(form->DisplayDnsText->toPlainText(),
            QString(" example.org").leftJustified(45) + "\t93.184.216.34\n");
  EXPECT_FALSE(form->DisplayDnsText->isHidden() || form->DeleteTimer->isActive());
  EXPECT_FALSE(testing::Exists(Script()));
  EXPECT_TRUE(testing::Exists(Capture()) && form->Menus().Mnu_ShowDns->isEnabled());

  // A double click hides the box; on a yellow box it first opens the whole capture.
  launcher.records.clear();
  form->DisplayDnsText_DblClick();
  EXPECT_TRUE(form->DisplayDnsText->isHidden());
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "");
  VellomarForm::SetBackColor(form->DisplayDnsText, kYellow);
  form->DisplayDnsText_DblClick();
  EXPECT_EQ(Launched(), (Runs{{"open", Capture()}}));

  // In Notepad mode the finished capture opens in the editor and the box stays hidden.
  form->Menus().Mnu_OpenDnsNotepad->trigger();  // ticks the item and captures
  testing::WriteFile(Capture(), "@finishednow@\n");
  form->DeleteTimer_Timer();
  EXPECT_EQ(Launched(), (Runs{{"open", Capture()}, {"/bin/sh", Script()}, {"open", Capture()}}));
  EXPECT_TRUE(form->DisplayDnsText->isHidden() && !form->DeleteTimer->isActive());
}

TEST_F(DnsTest, WithoutTheResolverToolOldFilesGoAndNothingStartsOrFlushes) {
  ::unlink(Sys("resolvectl").c_str());
  Load();
  testing::WriteFile(Capture(), "x");
  testing::WriteFile(Script(), "x");
  form->DoFlush();
  form->DoDnsDisplay();
  EXPECT_TRUE(launcher.records.empty());
  EXPECT_FALSE(testing::Exists(Capture()) || testing::Exists(Script()));
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
}

TEST_F(DnsTest, CaptureFilesThatCannotBeDeletedAreLogged) {
  testing::WriteFile(Capture(), "x");
  testing::WriteFile(Script(), "x");
  const bool undeletable = Immutable(Capture(), true) && Immutable(Script(), true);
  if (undeletable) form->DoDnsDisplay();
  Immutable(Capture(), false);
  Immutable(Script(), false);
  if (!undeletable) GTEST_SKIP() << "needs root on a file system with chattr";
  EXPECT_EQ(testing::ReadFile(P("vellomar_Log.txt")),
            "Failed to Kill displaydns.txt\nFailed to Kill " + Script() + "\n");
  EXPECT_EQ(testing::ReadFile(Script()), "x");  // never written through
  EXPECT_TRUE(form->DeleteTimer->isActive());
}

TEST_F(DnsTest, ARealCaptureWithAFakeResolverToolEndsInTheTable) {
  testing::WriteFile(Sys("resolvectl"),
                     "#!/bin/sh\n[ \"$1\" = show-cache ] || exit 1\n"
                     "printf 'example.org IN A 93.184.216.34\\nwww.example.org IN CNAME "
                     "example.org\\n'\n");
  ::chmod(Sys("resolvectl").c_str(), 0755);
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
