#pragma once
// A main window over the program and system folders of ProgramFixture.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/vellomar_form.h"
#include "app/vellomar_menus.h"
#include "common/program_fixture.h"

namespace vellomar::app {

using testing::Contains;
using testing::HeaderText;
using testing::V;
using Runs = std::vector<V>;  // the arguments of several starts

class FormTest : public testing::ProgramFixture {
 protected:
  void Load() {  // creates the window and runs its start-up
    form = std::make_unique<VellomarForm>(Env());
    form->Form_Load();
  }
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

  std::unique_ptr<VellomarForm> form;
};

}  // namespace vellomar::app
