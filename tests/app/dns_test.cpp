// The DNS cache tools through the window: flush, service, capture and report.
#include <sys/stat.h>
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

TEST_F(DnsTest, ACaptureRunsTheToolIntoAFreshFileAndTheTickShowsTheTable) {
  const std::string tool = Sys("resolvectl");
  testing::WriteFile(tool,
                     "#!/bin/sh\n[ \"$1\" = show-cache ] || exit 1\n"
                     "printf 'example.org IN A 93.184.216.34\\nwww.example.org IN CNAME "
                     "example.org\\n'\n");
  ::chmod(tool.c_str(), 0755);
  testing::WriteFile(Capture(), "old listing\n@finishednow@\n");
  const auto shown = [this] {
    for (int i = 0; i < 250 && form->DeleteTimer->isActive(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      form->DeleteTimer_Timer();
    }
    return form->DisplayDnsText->toPlainText();
  };
  form->Menus().Mnu_ShowDns->trigger();
  EXPECT_TRUE(form->DeleteTimer->isActive());
  EXPECT_FALSE(form->Menus().Mnu_ShowDns->isEnabled());
  EXPECT_EQ(shown(), QString(" example.org").leftJustified(45) + "\t93.184.216.34\n" +
                         QString(" www.example.org").leftJustified(45) + "\n");
  EXPECT_FALSE(form->DisplayDnsText->isHidden() || form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
  EXPECT_EQ(testing::ReadFile(Capture()).find("old listing"), std::string::npos);
  EXPECT_FALSE(testing::Exists(Script()));

  // Whether the report fits is judged by what was put in: a no-break space or a byte that is
  // not UTF-8, which the box shows differently, is no reason for yellow.
  testing::WriteFile(tool,
                     "#!/bin/sh\nprintf 'caf\\303\\251\\302\\240x\\377.example IN A 1.2.3.4\\n'\n");
  form->Menus().Mnu_ShowDns->trigger();
  EXPECT_NE(shown().indexOf("1.2.3.4"), -1);
  EXPECT_EQ(VellomarForm::BackColor(form->DisplayDnsText),
            VellomarForm::ColourOf(view::ColourRole::kWindow));

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
  shown();
  EXPECT_EQ(Launched(), (Runs{{"open", Capture()}, {"open", Capture()}}));
  EXPECT_TRUE(form->DisplayDnsText->isHidden());
}

// A capture that cannot start or never ends says why and gives the menu item back.
TEST_F(DnsTest, ACaptureThatCannotRunOrHangsIsReportedAndEnded) {
  ::mkdir(Capture().c_str(), 0755);  // a leftover that unlink cannot remove
  testing::WriteFile(Capture() + "/x", "x");
  form->DoDnsDisplay();
  EXPECT_EQ(Info(), "Could not remove " + Capture() + ": the DNS cache is not shown");
  EXPECT_EQ(InfoColour(), kRed);
  EXPECT_EQ(testing::ReadFile(P("vellomar_Log.txt")), "Failed to Kill displaydns.txt\n");
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
  std::filesystem::remove_all(Capture());

  testing::WriteFile(Sys("resolvectl"), "#!/bin/sh\nexec sleep 60\n");
  ::chmod(Sys("resolvectl").c_str(), 0755);
  form->session().SetCaptureTimeout(std::chrono::milliseconds(200));
  form->DoDnsDisplay();
  EXPECT_TRUE(form->DeleteTimer->isActive());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  form->DeleteTimer_Timer();
  EXPECT_EQ(Info(),
            Sys("resolvectl") + " did not list the DNS cache within 200 ms and was stopped");
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
  EXPECT_FALSE(testing::Exists(Capture()));

  ::unlink(Sys("resolvectl").c_str());
  Load();
  form->DoFlush();
  form->DoDnsDisplay();
  EXPECT_TRUE(launcher.records.empty());
  EXPECT_EQ(Info(),
            "No DNS cache tool: install systemd-resolved (it brings resolvectl) to show the cache");
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
}

}  // namespace
}  // namespace vellomar::app
