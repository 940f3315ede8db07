#pragma once
// A main window over a temporary program folder, a temporary "system" folder holding the
// hosts file, the editor and the resolver tool, and a launcher that records.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/vellomar_form.h"
#include "app/vellomar_menus.h"
#include "common/test_util.h"

namespace vellomar::app {

using V = std::vector<std::string>;
using Runs = std::vector<V>;  // the arguments of several starts

class FormTest : public ::testing::Test {
 protected:
  FormTest() {
    ::mkdir(P("Hostfiles").c_str(), 0755);
    testing::WriteFile(Sys("editor"), "#!/bin/sh\n");
    testing::WriteFile(Sys("resolvectl"), "#!/bin/sh\n");
  }

  Environment Env() {
    Environment env;
    env.program_folder = program.path();
    env.program_name = "vellomar";
    env.hosts_candidates = {Sys("hosts")};
    env.editor_candidates = {Sys("editor")};
    env.resolver_candidates = {Sys("resolvectl")};
    env.line_end = support::LineEnd::kLf;
    env.os = platform::OsFamily::kPosix;
    env.clock = [this] {
      ++merges;
      return std::string("07/12/2026 01:02:03");
    };
    env.is_admin = [this] { return admin; };
    env.launcher = &launcher;
    std::tie(env.version_major, env.version_minor, env.version_revision) = std::tuple(1, 0, 61);
    return env;
  }

  void Load() {  // creates the window and runs its start-up
    form = std::make_unique<VellomarForm>(Env());
    form->Form_Load();
  }
  std::string P(const std::string& name) const { return program.File(name); }
  std::string Sys(const std::string& name) const { return system.File(name); }
  void Source(const std::string& name, const std::string& bytes) {
    testing::WriteFile(P("Hostfiles/" + name), bytes);
  }
  void Hosts(const std::string& bytes) { testing::WriteFile(Sys("hosts"), bytes); }
  std::string Merged() const { return testing::ReadFile(P("M_Hosts.txt")); }
  // The status line's text; when the box shows it shortened, the whole of it from the tip.
  std::string Info() const {
    const QLineEdit* box = form->InformationText;
    return FromQ(box->toolTip() == "General Info.!" ? box->text() : box->toolTip());
  }
  QColor InfoColour() const { return Colour(form->InformationText); }
  static QColor Colour(const QWidget* box) { return VellomarForm::BackColor(box); }

  // The entries of a list, or only its ticked ones.
  static V Items(const QListWidget* list, bool ticked_only = false) {
    V names;
    for (const auto* item : list->findItems("*", Qt::MatchWildcard)) {
      if (!ticked_only || item->checkState() == Qt::Checked) names.push_back(FromQ(item->text()));
    }
    return names;
  }
  V Ticked() const { return Items(form->MergeList, true); }
  void Tick(int index, bool ticked) {
    form->MergeList->item(index)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  }
  // The arguments of every start so far; a shell open as "open" and its target.
  Runs Launched() const {
    Runs all;
    for (const auto& record : launcher.records) {
      all.push_back(record.kind == testing::LaunchRecord::Kind::kShellOpen ? V{"open"} : V{});
      all.back().insert(all.back().end(), record.argv.begin(), record.argv.end());
    }
    return all;
  }

  testing::TempDir program;
  testing::TempDir system;
  testing::RecordingLauncher launcher;
  int merges = 0;  // merges that passed their checks (each asks the clock once)
  bool admin = true;
  std::unique_ptr<VellomarForm> form;
};

// A header with the dated lines the version report compares.
inline std::string HeaderText(std::string updated, std::string created = "#CREATEDDATE#") {
  return "# Sample header\n# ------- Updated: " + updated +
         " -------\n# ------- Created: " + created +
         " -------\n127.0.0.1 localhost\n::1 localhost\n";
}

}  // namespace vellomar::app
