// The main window: controls, layout, start-up, single instance and clean-up.
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "app/layout.h"
#include "app/run.h"
#include "form_fixture.h"

namespace vellomar::app {
namespace {

QRect Twips(int left, int top, int width, int height) {
  return {left / 15, top / 15, width / 15, height / 15};
}

TEST_F(FormTest, EveryControlHasItsNameCaptionTipPlaceAndState) {
  VellomarForm window(Env());
  struct Expected {
    const char* name;
    QRect place;
    const char* tip;
  };
  const Expected table[] = {
      {"CurrentVersionText", Twips(30, 270, 5025, 645), "Current Version"},
      {"MergeList", Twips(270, 1980, 2085, 2085), "Select to include in merge file"},
      {"FileList", Twips(2880, 2010, 1905, 2040), "Double click to edit"},
      {"CreateMergedHosts", Twips(300, 4170, 2085, 315), "Recreate and Write Merged file to HOSTS"},
      {"RefreshListButton", Twips(2910, 4170, 1875, 315), "Refresh things"},
      {"MergedVersionText", Twips(30, 1260, 5025, 645), "Merge Version"},
      {"InformationText", Twips(300, 4560, 4455, 285), "General Info.!"},
      {"Label1", {}, "Double click to edit the file"},
      {"Label2", {}, "Double click to edit the file"},
      {"CurrentHostsFileInfo", {}, "Click to refresh Version info"},
      {"MergedHostsFileInfo", {}, "Click to refresh Version info"},
      {"AutoFlushDns", {}, "Auto flushdns after Hosts write"},
      {"DisplayDnsText", {}, "Double click to hide this display"},
      {"Use_127", {}, "Use 127.0.0.1 or 0.0.0.0 (RIGHT CLICK TO TOGGLE)"},
  };
  for (const auto& expected : table) {
    auto* control = window.findChild<QWidget*>(QString::fromLatin1(expected.name));
    ASSERT_NE(control, nullptr) << expected.name;
    EXPECT_EQ(control->toolTip(), QString::fromLatin1(expected.tip)) << expected.name;
    if (!expected.place.isNull()) {
      EXPECT_EQ(control->geometry(), expected.place) << expected.name;
    }
  }
  // Labels are sized to their text but start where the table puts them.
  EXPECT_EQ(window.Label1->pos(), QPoint(4, 4));
  EXPECT_EQ(window.Label2->pos(), QPoint(4, 70));
  EXPECT_EQ(window.MergedHostsFileInfo->y(), 70);
  EXPECT_GE(window.MergedHostsFileInfo->x(), std::max(94, window.Label2->geometry().right()));
  // Check boxes keep the right edge and top of their place and are at least as large.
  for (QCheckBox* box :
       {static_cast<QCheckBox*>(window.AutoFlushDns), static_cast<QCheckBox*>(window.Use_127)}) {
    const QRect place =
        box == window.AutoFlushDns ? Twips(3690, 60, 1365, 195) : Twips(3690, 1050, 1365, 195);
    EXPECT_EQ(box->geometry().right(), place.right());
    EXPECT_EQ(box->geometry().top(), place.top());
    EXPECT_GE(box->width(), std::max(place.width(), box->sizeHint().width()));
  }

  EXPECT_EQ(window.windowTitle(), "Host file Creator");
  EXPECT_EQ(window.CurrentVersionText->toPlainText(), "Text1");
  EXPECT_EQ(window.MergedVersionText->toPlainText(), "Text1");
  EXPECT_EQ(window.InformationText->text(), "Info");
  EXPECT_EQ(window.CreateMergedHosts->text(), "Write to HOSTS");
  EXPECT_EQ(window.RefreshListButton->text(), "Refresh");
  EXPECT_EQ(window.Label1->text(), "Current Host File:");
  EXPECT_EQ(window.Label2->text(), "Merged Host File:");
  EXPECT_EQ(window.CurrentHostsFileInfo->text(), "");
  EXPECT_EQ(window.AutoFlushDns->text(), "Auto FlushDns");
  EXPECT_EQ(window.AutoFlushDnsValue(), 1);
  EXPECT_EQ(window.Use_127->text(), "Use 127.0.0.1");
  EXPECT_EQ(window.Use127Value(), 1);
  EXPECT_TRUE(window.Use_127->isTristate());
  EXPECT_EQ(window.Use_127->layoutDirection(), Qt::RightToLeft);  // box right of the caption

  // The three status boxes are disabled and read-only; the report box is hidden.
  for (QWidget* box : {static_cast<QWidget*>(window.CurrentVersionText),
                       static_cast<QWidget*>(window.MergedVersionText),
                       static_cast<QWidget*>(window.InformationText)}) {
    EXPECT_FALSE(box->isEnabled()) << FromQ(box->objectName());
  }
  EXPECT_TRUE(window.CurrentVersionText->isReadOnly());
  EXPECT_TRUE(window.DisplayDnsText->isReadOnly());
  EXPECT_TRUE(window.DisplayDnsText->isHidden());
  for (QWidget* box : {static_cast<QWidget*>(window.CurrentVersionText),
                       static_cast<QWidget*>(window.MergedVersionText),
                       static_cast<QWidget*>(window.DisplayDnsText)}) {
    const QFontMetrics metrics(box->font());  // fixed pitch: every character as wide
    EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')),
              metrics.horizontalAdvance(QLatin1Char('W')));
  }
  EXPECT_FALSE(window.DeleteTimer->isActive());
  EXPECT_EQ(window.DeleteTimer->interval(), 2000);

  // Tab order over the focusable controls, as listed.
  const QList<QWidget*> controls = {window.MergeList,
                                    window.FileList,
                                    window.CreateMergedHosts,
                                    window.RefreshListButton,
                                    window.AutoFlushDns,
                                    window.DisplayDnsText,
                                    window.Use_127};
  QList<QWidget*> chain;
  for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
    if (controls.contains(w)) chain << w;
  }
  EXPECT_EQ(chain, controls);
}

TEST(LayoutTest, DnsBoxFollowsTheWindowAndNeverGetsANegativeSize) {
  const TwipRect box = DnsBoxLayout(5235, 5475);
  EXPECT_EQ(box.left, 30);
  EXPECT_EQ(box.top, 60);
  EXPECT_EQ(box.width, 5055);
  EXPECT_EQ(box.height, 4890);
  const TwipRect tiny = DnsBoxLayout(100, 300);
  EXPECT_EQ(tiny.width, 0);
  EXPECT_EQ(tiny.height, 0);
}

TEST_F(FormTest, ResizingMovesOnlyTheReportBox) {
  VellomarForm window(Env());
  window.show();
  window.resize(600, 500);
  QApplication::processEvents();
  const QRect frame = window.frameGeometry();
  EXPECT_EQ(window.DisplayDnsText->geometry(),
            QRect(2, 4, (frame.width() * 15 - 180) / 15, (frame.height() * 15 - 585) / 15));
  EXPECT_EQ(window.MergeList->geometry(), Twips(270, 1980, 2085, 2085));
  window.resize(5, 5);  // smaller than the box's margins
  QApplication::processEvents();
  EXPECT_GE(window.DisplayDnsText->width(), 0);
  EXPECT_GE(window.DisplayDnsText->height(), 0);
}

TEST(TitleTest, VersionNumbersWithoutLeadingZeros) {
  EXPECT_EQ(WindowTitle(1, 0, 61), "Vellomar - v1.0.61");
  EXPECT_EQ(WindowTitle(1, 0, 5), "Vellomar - v1.0.5");
}

TEST_F(FormTest, StartUpProbesNamesAndReportsTheAdministrator) {
  testing::WriteFile(system.File("hosts"), "127.0.0.1 localhost\n");
  Load();
  EXPECT_EQ(form->windowTitle(), "Vellomar - v1.0.61");
  EXPECT_EQ(form->HostsFilePath(), system.File("hosts"));
  EXPECT_EQ(form->NotepadPath(), system.File("editor"));
  EXPECT_EQ(form->IpconfigPath(), system.File("resolvectl"));
  EXPECT_EQ(form->MergedFilePath(), program.File("M_Hosts.txt"));
  EXPECT_EQ(Info(), "Admin User");
  EXPECT_EQ(form->Use127Value(), 2);
  EXPECT_EQ(form->Use_127->text(), "Use 0.0.0.0");
  EXPECT_FALSE(testing::Exists(program.File("vellomar_Log.txt")));  // start-up logs nothing

  admin = false;
  ::unlink(system.File("editor").c_str());
  ::unlink(system.File("hosts").c_str());
  Load();
  EXPECT_EQ(Info(), "You may need to run as Administrator to write hosts");
  EXPECT_EQ(InfoColour(), kRed);
  EXPECT_EQ(form->HostsFilePath(), "");
  EXPECT_EQ(form->NotepadPath(), "");
}

TEST_F(FormTest, RightClickOnTheWindowOrADisabledBoxOpensTheMenu) {
  Load();
  form->show();
  QApplication::processEvents();
  int popups = 0;
  // The popup is modal: close it from a timer and count how often it appeared.
  auto press = [&](QWidget* target, Qt::MouseButton button) {
    QTimer::singleShot(0, [&] {
      if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        EXPECT_EQ(popup, form->Menus().Mnu_File);
        ++popups;
        popup->close();
      }
    });
    QTest::mousePress(target, button, {}, QPoint(3, 3));
    QApplication::processEvents();
  };
  press(form.get(), Qt::RightButton);
  EXPECT_EQ(popups, 1);
  press(form->CurrentVersionText->viewport(), Qt::RightButton);
  press(form->InformationText, Qt::RightButton);
  EXPECT_EQ(popups, 3);
  press(form.get(), Qt::LeftButton);
  press(form->MergeList->viewport(), Qt::RightButton);
  press(form->Use_127, Qt::RightButton);
  EXPECT_EQ(popups, 3);
}

TEST_F(FormTest, UnloadDeletesOnlyTheCaptureFiles) {
  Load();
  for (const char* name : {"read.sh", "displaydns.txt", "vellomar_Log.txt", "read.bat"}) {
    testing::WriteFile(program.File(name), "x");
  }
  form->close();
  EXPECT_FALSE(testing::Exists(program.File("read.sh")));
  EXPECT_FALSE(testing::Exists(program.File("displaydns.txt")));
  EXPECT_TRUE(testing::Exists(program.File("vellomar_Log.txt")));
  EXPECT_TRUE(testing::Exists(program.File("read.bat")));  // the other system's batch
  EXPECT_TRUE(testing::Exists(program.File("Hostfiles")));
  form->Form_Unload();  // nothing left to delete: ends quietly
}

TEST_F(FormTest, ASecondInstanceBeepsAndShowsNoWindow) {
  const std::string program_file = program.File("vellomar");
  std::unique_ptr<platform::InstanceLock> first_lock;
  auto first = Start(Env(), program_file, first_lock);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isVisible());
  const auto windows_before = QApplication::topLevelWidgets().size();

  std::unique_ptr<platform::InstanceLock> second_lock;
  EXPECT_EQ(Start(Env(), program_file, second_lock), nullptr);
  EXPECT_EQ(second_lock, nullptr);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), windows_before);
  EXPECT_TRUE(first->isVisible());  // the running instance is unaffected
}

}  // namespace
}  // namespace vellomar::app
