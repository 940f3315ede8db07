#pragma once
// The hidden window that owns the popup command menu.

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <string_view>

namespace vellomar::app {

class VellomarForm;

class VellomarMenus : public QWidget {
  Q_OBJECT
 public:
  // Creates the menu and runs the load handler; never shown.
  explicit VellomarMenus(VellomarForm& form);

  QMenu* Mnu_File;
  QAction* Mnu_HostFileCheck;
  QAction* Mnu_HostFileUpdate;
  QAction* Mnu_FetchSources;
  QAction* Mnu_FindName;
  QAction* Mnu_Dedupe;
  QAction* sep0;
  QAction* Mnu_ShowDns;
  QAction* Mnu_OpenDnsNotepad;
  QAction* Mnu_FlushDns;
  QAction* sep1;
  QAction* Mnu_StopDnsService;
  QAction* Mnu_StartDnsService;
  QAction* sep2;
  QAction* Mnu_EnableDnD;
  QAction* Mnu_WebLink;
  QAction* sep3;
  QAction* Mnu_Exit;

  void Mnu_HostFileCheck_Click();
  void Mnu_HostFileUpdate_Click();
  void Mnu_FetchSources_Click();
  void Mnu_FindName_Click();
  // Checkable: the new tick says whether the merge leaves out duplicate names; a change merges.
  void Mnu_Dedupe_Click();
  void Mnu_ShowDns_Click();
  // The item ticks or unticks itself when chosen; this acts on the new tick.
  void Mnu_OpenDnsNotepad_Click();
  void Mnu_FlushDns_Click();
  void Mnu_StopDnsService_Click();
  void Mnu_StartDnsService_Click();
  void Mnu_WebLink_Click();
  void Mnu_Exit_Click();

 private:
  void Form_Load();
  // The item of the menu's table called `name`, wired to `handler`.
  QAction* AddItem(std::string_view name, void (VellomarMenus::*handler)() = nullptr);

  VellomarForm& form_;
};

}  // namespace vellomar::app
