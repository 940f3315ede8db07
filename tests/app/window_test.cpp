// The Qt window: what it adds to the session, its wiring, drawing and events. The rules of a
// run are the session's tests; what each status says is the view's.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/privileged_wait.h"
#include "app/run.h"
#include "form_fixture.h"

namespace vellomar::app {
namespace {

const QColor kWindowColour = VellomarForm::ColourOf(view::ColourRole::kWindow);

class WindowTest : public FormTest {
 protected:
  WindowTest() {
    Source("H_0Header.txt", HeaderText("2026-12-01"));
    Source("H_1mvps.txt", "0.0.0.0 a.example\n");
    Source("H_2Header.txt", "# second header\n");
    Source("H_3Trackers.txt", "127.0.0.1 t.example\n");
    Source("notes.txt", "not a source\n");
    SetHosts("127.0.0.1 localhost\n# the old hosts file\n");
  }
  long Flushes() const {
    return std::ranges::count(Launched(), V{Sys("resolvectl"), "flush-caches"});
  }
  // Runs the capture's timer until it stops; the report box's text.
  QString Captured() {
    for (int i = 0; i < 250 && form->DeleteTimer->isActive(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      form->DeleteTimer_Timer();
    }
    return form->DisplayDnsText->toPlainText();
  }
};

// The title, the laid-out size it keeps, and a second start that only beeps.
TEST_F(WindowTest, StartsOnceWithItsTitleAndKeepsItsSize) {
  std::unique_ptr<platform::InstanceLock> first_lock;
  std::unique_ptr<platform::InstanceLock> second_lock;
  auto window = Start(Env(), P("vellomar"), first_lock);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Vellomar - v1.0.61");
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  const auto windows_before = QApplication::topLevelWidgets().size();
  EXPECT_EQ(Start(Env(), P("vellomar"), second_lock), nullptr);
  EXPECT_EQ(second_lock, nullptr);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), windows_before);
}

// Real mouse and key events: the menu opens over the window and the disabled boxes, from the
// Menu key and Shift+F10, and never over an enabled control, which keeps its own press.
TEST_F(WindowTest, TheMenuOpensOverTheWindowDisabledBoxesAndFromTheKeyboardOnly) {
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

// Real-size files: 7-digit summaries show whole and stop short of the check boxes; a status
// longer than its box loses its middle, keeping its start and the reason at its end, and the tip
// holds it whole.
TEST_F(WindowTest, LongTextsNeitherOverlapNorLoseTheirEnds) {
  std::string big;
  for (int i = 0; i < 52522; ++i) big += "0.0.0.0 host" + std::to_string(i) + ".example.com\n";
  big.resize(1663521, '#');
  SetHosts(big);
  Source("H_0Header.txt", big);
  Load();
  form->show();
  EXPECT_EQ(FromQ(form->CurrentHostsFileInfo->text()), "52523 Lines - len: 1663521");
  EXPECT_LT(form->CurrentHostsFileInfo->geometry().right(), form->AutoFlushDns->geometry().left());
  EXPECT_LT(form->MergedHostsFileInfo->geometry().right(), form->Use_127->geometry().left());
  form->AddNotice(std::string(300, 'x') + " - HOSTS not written");
  const QString whole = ToQ(view::StatusText(form->session().Information()));
  const QString shown = form->InformationText->text();
  EXPECT_TRUE(shown.size() < whole.size() && shown.startsWith(whole.left(10)) &&
              shown.endsWith("HOSTS not written"));
  EXPECT_EQ(form->InformationText->toolTip(), whole);
}

// The lists show the session's entries and ticks as real clicks change them; a tick rebuilds
// the file with the progress on the button; a refresh redraws, an emptied folder empties both.
TEST_F(WindowTest, TheListsFollowTicksAndRefreshes) {
  SetHosts(HeaderText("2026-12-01") + "# [Start of H_3Trackers.txt entries]\n");
  Load();
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_3Trackers.txt"}));
  QSignalSpy spy(form.get(), &VellomarForm::MergeProgress);
  Tick(1, true);
  QStringList captions;
  for (const auto& signal : spy) captions << signal.at(0).toString();
  EXPECT_EQ(captions, (QStringList{"0 of 3", "1 of 3", "3 of 3", "Write to HOSTS"}));
  EXPECT_EQ(Info(),
            "Merged " + form->session().FileSummary(P("M_Hosts.txt")) + " - File:[ M_Hosts.txt ]");
  EXPECT_EQ(InfoColour(), kWindowColour);
  Source("H_New.txt", "0.0.0.0 n.example\n");
  form->RefreshListButton_Click();
  EXPECT_EQ(Items(form->FileList),
            (V{"H_0Header.txt", "H_1mvps.txt", "H_2Header.txt", "H_3Trackers.txt", "H_New.txt"}));
  EXPECT_EQ(Ticked(), (V{"H_0Header.txt", "H_3Trackers.txt"}));

  std::filesystem::rename(P("Hostfiles"), P("Moved"));
  ASSERT_EQ(::chdir(P("Moved").c_str()), 0);  // never the process's own folder instead
  form->RefreshListButton_Click();
  ::chdir("/");
  EXPECT_EQ(form->MergeList->count() + form->FileList->count(), 0);
  EXPECT_TRUE(Contains(Info(), " - No source folder " + P("Hostfiles")));
  EXPECT_EQ(InfoColour(), kRed);
}

TEST_F(WindowTest, ClicksShowTheSummaryAndDoubleClicksOpenTheFileWithoutTouchingTheTicks) {
  Load();
  form->FileList->setCurrentRow(3);
  form->FileList_Click();
  EXPECT_EQ(Info(), "2 Lines - len: 20");
  form->FileList_DblClick();  // through the system's file association
  form->Label2_DblClick();    // in the editor, as program and one argument
  form->Label1_DblClick();    // no readable hosts file of the right kind: the editor all the same
  ::unlink(P("Hostfiles/H_3Trackers.txt").c_str());
  ::unlink(P("M_Hosts.txt").c_str());
  ::unlink(Sys("hosts").c_str());
  form->FileList_DblClick();  // files gone since: nothing starts
  form->Label2_DblClick();
  form->Label1_DblClick();
  EXPECT_EQ(Launched(), (Runs{{"open", P("Hostfiles/H_3Trackers.txt")},
                              {Sys("editor"), P("M_Hosts.txt")},
                              {Sys("editor"), Sys("hosts")}}));
  EXPECT_EQ(launcher.records[1].style, platform::WindowStyle::kNormalFocus);
  EXPECT_EQ(Ticked(), V{"H_0Header.txt"});
}

// File names are bytes: a Latin-1 name goes from the listing to the read, the marker, the
// summary and the editor unchanged, however the list shows it; real clicks tick it.
TEST_F(WindowTest, ANameThatIsNotUtf8KeepsItsBytesFromListToMarker) {
  const std::string name = "H_x\xE9.txt";
  Source(name, "0.0.0.0 cafe.example\n");
  Load();
  const int row = 4;  // the last
  ASSERT_EQ(form->MergeList->count(), 5);
  form->MergeList->scrollToItem(form->MergeList->item(row));
  QTest::mouseClick(form->MergeList->viewport(), Qt::LeftButton, {},
                    form->MergeList->visualItemRect(form->MergeList->item(row)).center());
  EXPECT_EQ(form->MergeList->item(row)->checkState(), Qt::Checked);
  EXPECT_TRUE(Contains(Merged(), "# [Start of " + name + " entries]\n0.0.0.0 cafe.example\n"));
  form->FileList->setCurrentRow(row);
  form->FileList_Click();
  EXPECT_EQ(Info(), "2 Lines - len: 21");
  launcher.records.clear();
  form->FileList_DblClick();
  EXPECT_EQ(Launched(), (Runs{{"open", P("Hostfiles/" + name)}}));
  SetHosts(Merged());  // the installed file names it again at the next start
  Load();
  EXPECT_EQ(form->MergeList->item(row)->checkState(), Qt::Checked);
}

// A right press (with any keys held) toggles between the two addresses, a left click never
// grays the box; each change rebuilds the file once.
TEST_F(WindowTest, RightPressCyclesTheModeAndRebuildsOncePerChange) {
  Load();
  Tick(1, true);
  merges = 0;
  QTest::mousePress(form->Use_127, Qt::RightButton, Qt::ShiftModifier);  // from the grayed state
  EXPECT_EQ(form->Use_127->text(), "Use 127.0.0.1");
  EXPECT_TRUE(Contains(Merged(), "\n127.0.0.1 a.example"));
  QTest::mousePress(form->Use_127, Qt::RightButton, Qt::ControlModifier | Qt::AltModifier);
  QTest::mousePress(form->Use_127, Qt::MiddleButton);
  EXPECT_EQ(form->Use_127->text(), "Use 0.0.0.0");
  form->Use_127->setCheckState(Qt::Unchecked);
  EXPECT_EQ(form->Use_127->text(), " No Change");
  QTest::mouseClick(form->Use_127, Qt::LeftButton);
  QTest::mouseClick(form->Use_127, Qt::LeftButton);
  EXPECT_EQ(form->Use127Value(), 0);
  EXPECT_EQ(merges, 5);
}

TEST_F(WindowTest, WriteButtonMergesInstallsAndFlushesOnlyWhenTicked) {
  Load();
  Source("H_0Header.txt", HeaderText("2026-12-05"));
  form->CreateMergedHosts_Click();
  EXPECT_TRUE(Contains(Merged(), "2026-12-05"));  // merged first
  EXPECT_EQ(Hosts(), Merged());
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Colour(form->MergedVersionText), kWindowColour);
  EXPECT_EQ(Flushes(), 1);
  form->AutoFlushDns->setChecked(false);
  form->CreateMergedHosts_Click();
  EXPECT_EQ(InfoColour(), kGreen);
  EXPECT_EQ(Flushes(), 1);  // unticked: no flush
}

// Over a hosts file of the user's making, the write button asks before dropping entries of their
// own: No installs nothing and the status says so; Yes installs.
TEST_F(WindowTest, TheWriteButtonAsksBeforeDroppingEntriesOfTheUsersOwn) {
  const std::string own = "127.0.0.1 localhost\n192.168.1.10 nas\n";
  SetHosts(own);
  Load();
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    QString asked;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      asked = box->text();
      box->button(answer)->click();
    });
    form->CreateMergedHosts_Click();
    EXPECT_TRUE(Contains(FromQ(asked), "\n  192.168.1.10 nas\n")) << FromQ(asked);
    if (answer == QMessageBox::No) {
      EXPECT_EQ(Hosts(), own);
      EXPECT_TRUE(
          Contains(Info(), "entries of your own that the new file lacks - HOSTS not written"));
    } else {
      EXPECT_EQ(Hosts(), Merged());
      EXPECT_EQ(InfoColour(), kGreen);
    }
  }
}

// The menu's items run their commands; the update item exists for the run only when a merged
// file existed at start-up; the window's unload removes the capture files and nothing else.
TEST_F(WindowTest, TheMenuRunsItsCommands) {
  Load();
  VellomarMenus& menus = form->Menus();
  EXPECT_FALSE(menus.Mnu_EnableDnD->isEnabled());
  menus.Mnu_HostFileUpdate->trigger();
  EXPECT_EQ(Hosts(), Merged());
  SetHosts(HeaderText("2026-09-09") + std::string(100, '#'));
  menus.Mnu_HostFileCheck->trigger();
  EXPECT_EQ(form->session().CurrentUpdated(), "2026-09-09");
  menus.Mnu_WebLink->trigger();
  EXPECT_EQ(Launched().back(), (V{"open", std::string(view::kWebLinkAddress)}));
  for (const char* name : {"read.sh", "displaydns.txt", "read.bat"}) {
    testing::WriteFile(P(name), "x");
  }
  menus.Mnu_Exit->trigger();
  EXPECT_FALSE(testing::Exists(P("read.sh")) || testing::Exists(P("displaydns.txt")));
  EXPECT_TRUE(testing::Exists(P("read.bat")) && testing::Exists(P("Hostfiles")));

  // Without a header, the start-up makes no merged file: no update item, even once there is one.
  ::unlink(P("Hostfiles/H_0Header.txt").c_str());
  ::unlink(P("M_Hosts.txt").c_str());
  Load();
  EXPECT_FALSE(form->Menus().Mnu_HostFileUpdate->isVisible());
  Source("H_0Header.txt", HeaderText("2026-12-01"));
  form->RefreshListButton_Click();
  EXPECT_TRUE(testing::Exists(P("M_Hosts.txt")));
  EXPECT_FALSE(form->Menus().Mnu_HostFileUpdate->isVisible());
}

// "Leave Out Duplicate Names" is a checkable item that keeps its tick; each change merges again.
TEST_F(WindowTest, TheDuplicatesItemTicksAndMergesAgain) {
  Source("H_3Trackers.txt", "127.0.0.1 t.example T.example\n");
  Load();
  form->session().SetTicked(*form->session().FindEntry("H_3Trackers.txt"), true);
  QAction* item = form->Menus().Mnu_Dedupe;
  for (const bool ticked : {true, false}) {
    item->trigger();
    EXPECT_EQ(item->isChecked(), ticked);
    EXPECT_EQ(Contains(Merged(), "\n0.0.0.0 t.example\n"), ticked);
    EXPECT_EQ(Contains(Info(), " - 1 duplicate name left out"), ticked);
  }
}

// The web update fetches beside the event loop, with the window disabled meanwhile; then the new
// list is listed, and the status names the list that failed, in red.
TEST_F(WindowTest, TheWebUpdateFetchesBesideTheEventLoopAndListsWhatItFetched) {
  testing::WriteFile(P("Hostfiles/H_Ads.url"), "https://lists.example/ads.txt\n");
  testing::WriteFile(P("Hostfiles/H_Gone.url"), "https://lists.example/gone.txt\n");
  Source("H_Gone.txt", "0.0.0.0 old.example\n");
  session::Environment env = Env();
  int fetches_off_the_ui_thread = 0;
  int fetches_while_enabled = 0;
  const auto ui_thread = std::this_thread::get_id();
  env.http_get = FetchingInWindow(
      [&](const platform::HttpRequest& request, const platform::HttpBodySink& sink) {
        fetches_off_the_ui_thread += std::this_thread::get_id() != ui_thread;
        fetches_while_enabled += form->isEnabled();
        platform::HttpReply reply;
        reply.status = request.url.ends_with("ads.txt") ? 200 : 404;
        if (reply.status == 200 && !(sink("0.0.0.0 ads.") && sink("example\n"))) {
          reply.failure = platform::HttpFailure::kStopped;
        }
        return reply;
      });
  form = std::make_unique<VellomarForm>(env);
  form->Form_Load();
  form->Menus().Mnu_FetchSources->trigger();
  EXPECT_EQ(fetches_off_the_ui_thread, 2);
  EXPECT_EQ(fetches_while_enabled, 0);
  EXPECT_TRUE(form->isEnabled());
  const V listed = Items(form->FileList);
  EXPECT_NE(std::find(listed.begin(), listed.end(), "H_Ads.txt"), listed.end());
  EXPECT_EQ(testing::ReadFile(P("Hostfiles/H_Ads.txt")), "0.0.0.0 ads.example\n");
  EXPECT_EQ(Info(),
            "H_Gone.txt not updated (the server answered 404) - from the web: 1 updated, 0 "
            "unchanged");
  EXPECT_EQ(InfoColour(), kRed);
}

// "Find a Name" asks for the name in a dialog and answers in the status line; Cancel changes
// nothing.
TEST_F(WindowTest, FindANameAsksAndAnswersInTheStatusLine) {
  Source("allow.txt", "a.example\n");
  Load();
  const auto ask = [&](const QString& name, bool ok) {
    QTimer::singleShot(0, [name, ok] {
      auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->setTextValue(name);
      ok ? dialog->accept() : dialog->reject();
    });
    form->Menus().Mnu_FindName->trigger();
    return Info();
  };
  EXPECT_EQ(ask(" A.example. ", true), "a.example: blocked by H_1mvps.txt:1; allowed by allow.txt");
  EXPECT_EQ(ask("t.example", false), "a.example: blocked by H_1mvps.txt:1; allowed by allow.txt");
  EXPECT_EQ(ask("localhost", true),
            "localhost: blocked by H_0Header.txt:4, H_0Header.txt:5; in the hosts file");
  EXPECT_EQ(ask("nobody.example", true), "nobody.example: no source maps it");
  EXPECT_EQ(ask("a b", true), "\"a b\" is no host name: nothing was looked for");
  EXPECT_EQ(InfoColour(), kYellow);
}

TEST_F(WindowTest, FlushAndServiceCommandsStartMinimizedAndAModifiedPressOnAutoFlushFlushes) {
  Load();
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
  for (const auto& r : launcher.records)
    EXPECT_EQ(r.style, platform::WindowStyle::kMinimizedNoFocus);
}

// The capture runs the tool into a fresh file and the timer's tick shows the table, in the
// box or the editor; one that cannot start or never ends says so and gives the item back.
TEST_F(WindowTest, ACaptureShowsItsTableOrSaysWhyNot) {
  const std::string tool = Sys("resolvectl");
  testing::WriteScript(tool,
                       "#!/bin/sh\n[ \"$1\" = show-cache ] || exit 1\nprintf 'example.org IN A "
                       "93.184.216.34\\nwww.example.org IN CNAME example.org\\n'\n");
  Load();
  testing::WriteFile(P("displaydns.txt"), "old listing\n@finishednow@\n");
  form->Menus().Mnu_ShowDns->trigger();
  EXPECT_TRUE(form->DeleteTimer->isActive());
  EXPECT_FALSE(form->Menus().Mnu_ShowDns->isEnabled());
  EXPECT_EQ(Captured(), QString(" example.org").leftJustified(45) + "\t93.184.216.34\n" +
                            QString(" www.example.org").leftJustified(45) + "\n");
  EXPECT_FALSE(form->DisplayDnsText->isHidden() || form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());

  // A double click hides the box; on a yellow box it first opens the whole capture.
  launcher.records.clear();
  form->DisplayDnsText_DblClick();
  EXPECT_TRUE(form->DisplayDnsText->isHidden());
  EXPECT_EQ(form->DisplayDnsText->toPlainText(), "");
  VellomarForm::SetBackColor(form->DisplayDnsText, kYellow);
  form->DisplayDnsText_DblClick();
  EXPECT_EQ(Launched(), (Runs{{"open", P("displaydns.txt")}}));

  testing::WriteFile(tool, "#!/bin/sh\nexec sleep 60\n");
  form->session().SetCaptureTimeout(std::chrono::milliseconds(200));
  form->DoDnsDisplay();
  EXPECT_TRUE(form->DeleteTimer->isActive());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  form->DeleteTimer_Timer();
  EXPECT_EQ(InfoColour(), kRed);
  EXPECT_FALSE(form->DeleteTimer->isActive());
  EXPECT_TRUE(form->Menus().Mnu_ShowDns->isEnabled());
  EXPECT_FALSE(testing::Exists(P("displaydns.txt")));
}

}  // namespace
}  // namespace vellomar::app
