#pragma once
// A main window over a temporary program folder, a temporary "system" folder holding the
// hosts file, the editor and the resolver tool, and a launcher that records.

#include <gtest/gtest.h>

#include <QAction>
#include <memory>
#include <string>

#include "app/vellomar_form.h"
#include "app/vellomar_menus.h"
#include "common/test_util.h"

namespace vellomar::app {

class FormTest : public ::testing::Test {
 protected:
  FormTest() {
    ::mkdir(program.File("Hostfiles").c_str(), 0755);
    testing::WriteFile(system.File("editor"), "#!/bin/sh\n");
    testing::WriteFile(system.File("resolvectl"), "#!/bin/sh\n");
  }

  Environment Env() {
    Environment env;
    env.program_folder = program.path();
    env.program_name = "vellomar";
    env.hosts_candidates = {system.File("hosts")};
    env.notepad_candidates = {system.File("editor")};
    env.ipconfig_candidates = {system.File("resolvectl")};
    env.line_end = support::LineEnd::kLf;
    env.dialect = dns::Dialect::kPosix;
    env.clock = [this] {
      ++merges;
      return std::string("07/12/2026 01:02:03");
    };
    env.is_admin = [this] { return admin; };
    env.launcher = &launcher;
    env.version_major = 1;
    env.version_minor = 0;
    env.version_revision = 61;
    return env;
  }

  // Creates the window and runs its start-up.
  VellomarForm& Load() {
    form = std::make_unique<VellomarForm>(Env());
    form->Form_Load();
    return *form;
  }

  void Source(const std::string& name, const std::string& bytes) {
    testing::WriteFile(program.File("Hostfiles/" + name), bytes);
  }
  std::string Merged() const { return testing::ReadFile(program.File("M_Hosts.txt")); }
  std::string Log() const { return testing::ReadFile(program.File("vellomar_Log.txt")); }
  std::string Info() const { return FromQ(form->InformationText->text()); }
  QColor InfoColour() const { return VellomarForm::BackColor(form->InformationText); }

  std::vector<std::string> Ticked() const {
    std::vector<std::string> names;
    for (int i = 0; i < form->MergeList->count(); ++i) {
      if (form->MergeList->item(i)->checkState() == Qt::Checked) {
        names.push_back(FromQ(form->MergeList->item(i)->text()));
      }
    }
    return names;
  }
  void Tick(int index, bool ticked) {
    form->MergeList->item(index)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  }

  testing::TempDir program;
  testing::TempDir system;
  testing::RecordingLauncher launcher;
  int merges = 0;  // merges that passed their checks (each asks the clock once)
  bool admin = true;
  std::unique_ptr<VellomarForm> form;
};

// A header with the dated lines the version report compares.
inline std::string HeaderText(const std::string& updated,
                              const std::string& created = "#CREATEDDATE#") {
  return "# Sample header\n# ------- Updated: " + updated +
         " -------\n# ------- Created: " + created +
         " -------\n127.0.0.1 localhost\n::1 localhost\n";
}

}  // namespace vellomar::app
