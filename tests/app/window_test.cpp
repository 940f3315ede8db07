// The main window: controls, layout, start-up, single instance and clean-up.
#include <QApplication>
#include <QTest>
#include <cmath>
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
  // The window is wider than laid out by what long summaries need; the boxes and lists share
  // the extra width, everything keeps its top and height.
  const int extra = window.width() - 5115 / 15;
  const int half = extra / 2;
  EXPECT_GE(extra, 0);
  // Name, place (null where sized to the text), shown text (null: not checked), tip.
  const std::tuple<const char*, QRect, const char*, const char*> table[] = {
      {"CurrentVersionText", Twips(30, 270, 5025, 645).adjusted(0, 0, extra, 0), "Text1",
       "Current Version"},
      {"MergeList", Twips(270, 1980, 2085, 2085).adjusted(0, 0, half, 0), nullptr,
       "Select to include in merge file"},
      {"FileList", Twips(2880, 2010, 1905, 2040).adjusted(half, 0, extra, 0), nullptr,
       "Double click to edit"},
      {"CreateMergedHosts", Twips(300, 4170, 2085, 315).adjusted(0, 0, half, 0), "Write to HOSTS",
       "Recreate and Write Merged file to HOSTS"},
      {"RefreshListButton", Twips(2910, 4170, 1875, 315).adjusted(half, 0, extra, 0), "Refresh",
       "Refresh things"},
      {"MergedVersionText", Twips(30, 1260, 5025, 645).adjusted(0, 0, extra, 0), "Text1",
       "Merge Version"},
      {"InformationText", Twips(300, 4560, 4455, 285).adjusted(0, 0, extra, 0), "Info",
       "General Info.!"},
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

// The window keeps its size; the report box is laid out for it, and the layout rule never
// gives a negative size however small a window it is asked about.
TEST_F(FormTest, TheWindowKeepsItsSizeAndTheReportBoxFillsIt) {
  const TwipRect box = DnsBoxLayout(5235, 5475);
  EXPECT_EQ(QRect(box.left, box.top, box.width, box.height), QRect(30, 60, 5055, 4890));
  const TwipRect tiny = DnsBoxLayout(100, 300);
  EXPECT_EQ(QSize(tiny.width, tiny.height), QSize(0, 0));
  VellomarForm window(Env());
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  const QRect frame = window.frameGeometry();
  EXPECT_EQ(window.DisplayDnsText->geometry(),
            QRect(2, 4, (frame.width() * 15 - 180) / 15, (frame.height() * 15 - 585) / 15));
}

TEST_F(FormTest, StartUpNamesTheWindowAndReportsTheAdministrator) {
  EXPECT_EQ(WindowTitle(1, 0, 5), "Vellomar - v1.0.5");  // no leading zeros
  Hosts("127.0.0.1 localhost\n");
  Load();
  EXPECT_EQ(form->windowTitle(), "Vellomar - v1.0.61");
  EXPECT_EQ(Info(), "Admin User");
  admin = false;
  Load();
  EXPECT_EQ(Info(), "You may need to run as Administrator to write hosts");
  EXPECT_EQ(InfoColour(), kRed);
}

// Real mouse and key events: the menu opens over the window and the disabled boxes, from the
// Menu key and Shift+F10, and never over an enabled control, which keeps its own press.
TEST_F(FormTest, TheMenuOpensOverTheWindowDisabledBoxesAndFromTheKeyboardOnly) {
  Load();
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QMenu* menu = form->Menus().Mnu_File;
  int popups = 0;  // the popup is modal: close it once shown, and count
  QObject::connect(menu, &QMenu::aboutToShow, [&] {
    ++popups;
    QTimer::singleShot(0, menu, &QMenu::close);
  });
  QTest::mousePress(form.get(), Qt::RightButton);
  QTest::mousePress(form->CurrentVersionText->viewport(), Qt::RightButton);
  QTest::mousePress(form->InformationText, Qt::RightButton);
  QTest::keyClick(form.get(), Qt::Key_F10, Qt::ShiftModifier);
  QTest::keyClick(form->MergeList, Qt::Key_Menu);
  EXPECT_EQ(popups, 5);
  QTest::mousePress(form.get(), Qt::LeftButton);
  for (QWidget* control : std::initializer_list<QWidget*>{
           form->MergeList->viewport(), form->FileList->viewport(), form->CreateMergedHosts,
           form->Label1, form->CurrentHostsFileInfo, form->AutoFlushDns, form->Use_127}) {
    QTest::mousePress(control, Qt::RightButton);
    EXPECT_EQ(popups, 5) << control->objectName().toStdString();
  }
  EXPECT_EQ(form->Use127Value(), 1);  // its own right press toggled it

  // The visible report box lies over the check box beneath it and keeps its own menu.
  form->DisplayDnsText->show();
  form->DisplayDnsText->raise();
  const QPoint over_mode = form->Use_127->geometry().center();
  QWidget* hit = form->childAt(over_mode);
  EXPECT_TRUE(hit == form->DisplayDnsText || form->DisplayDnsText->isAncestorOf(hit));
  QTest::mousePress(hit, Qt::RightButton, {}, hit->mapFrom(form.get(), over_mode));
  EXPECT_EQ(popups, 5);
  EXPECT_EQ(form->Use127Value(), 1);
}

// WCAG contrast of the colours the window really draws with.
double Luminance(const QColor& c) {
  const auto channel = [](double v) {
    v /= 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}
double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(FormTest, EveryTextReadsOnEveryBackgroundItTakes) {
  Load();
  for (QWidget* box : std::initializer_list<QWidget*>{
           form->InformationText, form->CurrentVersionText, form->MergedVersionText}) {
    for (const QColor& back :
         {VellomarForm::ColourOf(view::ColourRole::kWindow), kYellow, kGreen, kRed}) {
      VellomarForm::SetBackColor(box, back);
      const QPalette& palette = box->palette();
      EXPECT_GE(Contrast(palette.color(QPalette::Disabled, QPalette::Text),
                         palette.color(QPalette::Disabled, QPalette::Base)),
                4.5)
          << box->objectName().toStdString() << " on " << back.name().toStdString();
    }
  }
  for (const QColor& back : {VellomarForm::ColourOf(view::ColourRole::kWindow), kYellow}) {
    VellomarForm::SetBackColor(form->DisplayDnsText, back);
    EXPECT_GE(Contrast(form->DisplayDnsText->palette().color(QPalette::Text), back), 4.5);
  }
  for (QWidget* text : std::initializer_list<QWidget*>{form->Label1, form->CurrentHostsFileInfo,
                                                       form->AutoFlushDns, form->Use_127}) {
    EXPECT_GE(Contrast(text->palette().color(QPalette::WindowText),
                       form->palette().color(QPalette::Window)),
              4.5);
  }
}

// Real-size files: 7-digit summaries show whole and stop short of the check boxes; a long
// status text shows its start and its end.
TEST_F(FormTest, LongTextsNeitherOverlapNorHideTheirStart) {
  std::string big;
  for (int i = 0; i < 52522; ++i) big += "0.0.0.0 host" + std::to_string(i) + ".example.com\n";
  big.resize(1663521, '#');
  Hosts(big);
  Source("H_0_Header.txt", big);
  Load();
  form->show();
  for (auto [summary, box] : {std::pair{form->CurrentHostsFileInfo, form->AutoFlushDns},
                              std::pair{form->MergedHostsFileInfo, form->Use_127}}) {
    EXPECT_LT(summary->geometry().right(), box->geometry().left()) << FromQ(summary->text());
  }
  EXPECT_EQ(FromQ(form->CurrentHostsFileInfo->text()), "52523 Lines - len: 1663521");
  EXPECT_NE(form->MergedHostsFileInfo->text().indexOf(" Lines - len: 1663"), -1);
  // A status longer than its box loses its middle, keeping its start and the reason at its
  // end; the tip holds it whole.
  form->AddNotice(std::string(300, 'x') + " - HOSTS not written");
  const QString whole = ToQ(view::StatusText(form->session().Information()));
  const QString shown = form->InformationText->text();
  EXPECT_NE(shown, whole);
  EXPECT_TRUE(shown.startsWith(whole.left(10)) && shown.endsWith("HOSTS not written"))
      << FromQ(shown);
  EXPECT_EQ(form->InformationText->toolTip(), whole);
  EXPECT_EQ(form->InformationText->cursorPosition(), 0);
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
