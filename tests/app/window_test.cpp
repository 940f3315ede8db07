// The main window: controls, layout, start-up, single instance and clean-up.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
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

// The text a control shows: caption, label text or box content.
QString Caption(const QWidget* control) {
  if (auto* box = qobject_cast<const QPlainTextEdit*>(control)) return box->toPlainText();
  if (auto* line = qobject_cast<const QLineEdit*>(control)) return line->text();
  if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  return qobject_cast<const QAbstractButton*>(control)->text();
}

TEST_F(FormTest, EveryControlHasItsNameCaptionTipPlaceAndState) {
  VellomarForm window(Env());
  struct Expected {
    const char* name;
    QRect place;  // null where the control is sized to its text
    const char* caption;
    const char* tip;
  };
  const Expected table[] = {
      {"CurrentVersionText", Twips(30, 270, 5025, 645), "Text1", "Current Version"},
      {"MergeList", Twips(270, 1980, 2085, 2085), nullptr, "Select to include in merge file"},
      {"FileList", Twips(2880, 2010, 1905, 2040), nullptr, "Double click to edit"},
      {"CreateMergedHosts", Twips(300, 4170, 2085, 315), "Write to HOSTS",
       "Recreate and Write Merged file to HOSTS"},
      {"RefreshListButton", Twips(2910, 4170, 1875, 315), "Refresh", "Refresh things"},
      {"MergedVersionText", Twips(30, 1260, 5025, 645), "Text1", "Merge Version"},
      {"InformationText", Twips(300, 4560, 4455, 285), "Info", "General Info.!"},
      {"Label1", {}, "Current Host File:", "Double click to edit the file"},
      {"Label2", {}, "Merged Host File:", "Double click to edit the file"},
      {"CurrentHostsFileInfo", {}, "", "Click to refresh Version info"},
      {"MergedHostsFileInfo", {}, "", "Click to refresh Version info"},
      {"AutoFlushDns", {}, "Auto FlushDns", "Auto flushdns after Hosts write"},
      {"DisplayDnsText", Twips(30, 60, 2475, 1695), "", "Double click to hide this display"},
      {"Use_127", {}, "Use 127.0.0.1", "Use 127.0.0.1 or 0.0.0.0 (RIGHT CLICK TO TOGGLE)"},
  };
  for (const auto& expected : table) {
    auto* control = window.findChild<QWidget*>(QString::fromLatin1(expected.name));
    ASSERT_NE(control, nullptr) << expected.name;
    EXPECT_EQ(control->toolTip(), QString::fromLatin1(expected.tip)) << expected.name;
    EXPECT_TRUE(!expected.caption || Caption(control) == expected.caption) << expected.name;
    EXPECT_TRUE(expected.place.isNull() || control->geometry() == expected.place) << expected.name;
  }
  // Labels start where their place is; a summary starts after its caption.
  EXPECT_EQ(window.Label2->pos(), QPoint(4, 70));
  EXPECT_GE(window.MergedHostsFileInfo->x(), std::max(94, window.Label2->geometry().right()));
  // Check boxes keep the right edge of their place, the tick box right of the caption.
  EXPECT_EQ(window.Use_127->geometry().right(), Twips(3690, 1050, 1365, 195).right());
  EXPECT_EQ(window.Use_127->layoutDirection(), Qt::RightToLeft);

  EXPECT_EQ(window.windowTitle(), "Host file Creator");
  EXPECT_EQ(window.AutoFlushDnsValue(), 1);
  EXPECT_EQ(window.Use127Value(), 1);
  EXPECT_TRUE(window.Use_127->isTristate());
  for (QWidget* box : QList<QWidget*>{window.CurrentVersionText, window.MergedVersionText,
                                      window.InformationText}) {
    EXPECT_FALSE(box->isEnabled());
  }
  EXPECT_TRUE(window.DisplayDnsText->isReadOnly());
  EXPECT_TRUE(window.DisplayDnsText->isHidden());
  for (QWidget* box : QList<QWidget*>{window.CurrentVersionText, window.DisplayDnsText}) {
    const QFontMetrics metrics(box->font());  // fixed pitch: every character as wide
    EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')),
              metrics.horizontalAdvance(QLatin1Char('W')));
  }
  EXPECT_FALSE(window.DeleteTimer->isActive());
  EXPECT_EQ(window.DeleteTimer->interval(), 2000);

  const QList<QWidget*> tab_order = {window.MergeList,
                                     window.FileList,
                                     window.CreateMergedHosts,
                                     window.RefreshListButton,
                                     window.AutoFlushDns,
                                     window.DisplayDnsText,
                                     window.Use_127};
  QList<QWidget*> chain;
  for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
    if (tab_order.contains(w)) chain << w;
  }
  EXPECT_EQ(chain, tab_order);
}

TEST(LayoutTest, DnsBoxFollowsTheWindowAndNeverGetsANegativeSize) {
  const TwipRect box = DnsBoxLayout(5235, 5475);
  EXPECT_EQ(QRect(box.left, box.top, box.width, box.height), QRect(30, 60, 5055, 4890));
  const TwipRect tiny = DnsBoxLayout(100, 300);
  EXPECT_EQ(QSize(tiny.width, tiny.height), QSize(0, 0));
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
