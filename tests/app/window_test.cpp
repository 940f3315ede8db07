// The main window: controls, layout, start-up, single instance and clean-up.
#include <QApplication>
#include <QTest>
#include <tuple>

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
  // Name, place (null where sized to the text), shown text (null: not checked), tip.
  const std::tuple<const char*, QRect, const char*, const char*> table[] = {
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
  for (const auto& [name, place, caption, tip] : table) {
    auto* control = window.findChild<QWidget*>(QString::fromLatin1(name));
    ASSERT_NE(control, nullptr) << name;
    EXPECT_EQ(control->toolTip(), QString::fromLatin1(tip)) << name;
    QVariant text = control->property("text");
    if (!text.isValid()) text = control->property("plainText");
    EXPECT_TRUE(!caption || text.toString() == caption) << name;
    EXPECT_TRUE(place.isNull() || control->geometry() == place) << name;
  }
  EXPECT_EQ(window.windowTitle(), "Host file Creator");
  EXPECT_EQ(window.AutoFlushDnsValue(), 1);
  EXPECT_EQ(window.Use127Value(), 1);
  EXPECT_TRUE(window.Use_127->isTristate());
  EXPECT_FALSE(window.CurrentVersionText->isEnabled() || window.MergedVersionText->isEnabled() ||
               window.InformationText->isEnabled());
  EXPECT_TRUE(window.DisplayDnsText->isReadOnly() && window.DisplayDnsText->isHidden());
  EXPECT_FALSE(window.DeleteTimer->isActive());
  EXPECT_EQ(window.DeleteTimer->interval(), 2000);
  const QFontMetrics terminal(window.CurrentVersionText->font());  // every character as wide
  EXPECT_EQ(terminal.horizontalAdvance(QLatin1Char('i')), terminal.horizontalAdvance('W'));
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

TEST_F(FormTest, ResizingMovesOnlyTheReportBoxAndATinyWindowDoesNotFail) {
  const TwipRect box = DnsBoxLayout(5235, 5475);
  EXPECT_EQ(QRect(box.left, box.top, box.width, box.height), QRect(30, 60, 5055, 4890));
  const TwipRect tiny = DnsBoxLayout(100, 300);
  EXPECT_EQ(QSize(tiny.width, tiny.height), QSize(0, 0));
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
  EXPECT_TRUE(window.DisplayDnsText->width() >= 0 && window.DisplayDnsText->height() >= 0);
}

TEST_F(FormTest, StartUpProbesNamesAndReportsTheAdministrator) {
  EXPECT_EQ(WindowTitle(1, 0, 5), "Vellomar - v1.0.5");  // no leading zeros
  Hosts("127.0.0.1 localhost\n");
  Load();
  EXPECT_EQ(form->windowTitle(), "Vellomar - v1.0.61");
  EXPECT_EQ(form->HostsFilePath(), Sys("hosts"));
  EXPECT_EQ(form->NotepadPath(), Sys("editor"));
  EXPECT_EQ(form->IpconfigPath(), Sys("resolvectl"));
  EXPECT_EQ(Info(), "Admin User");
  admin = false;
  ::unlink(Sys("editor").c_str());
  ::unlink(Sys("hosts").c_str());
  Load();
  EXPECT_EQ(Info(), "You may need to run as Administrator to write hosts");
  EXPECT_EQ(InfoColour(), kRed);
  EXPECT_EQ(form->HostsFilePath(), "");
  EXPECT_EQ(form->NotepadPath(), "");
}

TEST_F(FormTest, RightClickOnTheWindowOrADisabledBoxOpensTheMenu) {
  Load();
  form->show();
  QMenu* menu = form->Menus().Mnu_File;
  int popups = 0;  // the popup is modal: close it once shown, and count
  QObject::connect(menu, &QMenu::aboutToShow, [&] {
    ++popups;
    QTimer::singleShot(0, menu, &QMenu::close);
  });
  QTest::mousePress(form.get(), Qt::RightButton);
  QTest::mousePress(form->CurrentVersionText->viewport(), Qt::RightButton);
  QTest::mousePress(form->InformationText, Qt::RightButton);
  EXPECT_EQ(popups, 3);
  QTest::mousePress(form.get(), Qt::LeftButton);
  QTest::mousePress(form->MergeList->viewport(), Qt::RightButton);
  QTest::mousePress(form->Use_127, Qt::RightButton);
  EXPECT_EQ(popups, 3);
}

TEST_F(FormTest, UnloadDeletesOnlyTheCaptureFiles) {
  Load();
  for (const char* name : {"read.sh", "displaydns.txt", "vellomar_Log.txt", "read.bat"}) {
    testing::WriteFile(P(name), "x");
  }
  form->close();
  EXPECT_FALSE(testing::Exists(P("read.sh")) || testing::Exists(P("displaydns.txt")));
  EXPECT_TRUE(testing::Exists(P("vellomar_Log.txt")) && testing::Exists(P("Hostfiles")));
  EXPECT_TRUE(testing::Exists(P("read.bat")));  // the other system's batch
}

TEST_F(FormTest, ASecondInstanceBeepsAndShowsNoWindow) {
  std::unique_ptr<platform::InstanceLock> first_lock;
  std::unique_ptr<platform::InstanceLock> second_lock;
  auto first = Start(Env(), P("vellomar"), first_lock);
  ASSERT_NE(first, nullptr);
  const auto windows_before = QApplication::topLevelWidgets().size();
  EXPECT_EQ(Start(Env(), P("vellomar"), second_lock), nullptr);
  EXPECT_EQ(second_lock, nullptr);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), windows_before);
}

}  // namespace
}  // namespace vellomar::app
