#include "app/vellomar_menus.h"

#include <QCoreApplication>
#include <algorithm>

#include "app/vellomar_form.h"
#include "dns/commands.h"
#include "platform/platform.h"
#include "support/shell.h"
#include "view/window.h"

namespace vellomar::app {

VellomarMenus::VellomarMenus(VellomarForm& form) : QWidget(nullptr), form_(form) {
  setObjectName(QStringLiteral("VellomarMenus"));
  setWindowTitle(QStringLiteral("Menus"));
  Mnu_File = new QMenu(QStringLiteral("&File"), this);
  Mnu_File->setObjectName(QStringLiteral("Mnu_File"));

  Mnu_HostFileCheck = AddItem("Mnu_HostFileCheck", &VellomarMenus::Mnu_HostFileCheck_Click);
  Mnu_HostFileUpdate = AddItem("Mnu_HostFileUpdate", &VellomarMenus::Mnu_HostFileUpdate_Click);
  Mnu_FetchSources = AddItem("Mnu_FetchSources", &VellomarMenus::Mnu_FetchSources_Click);
  Mnu_FindName = AddItem("Mnu_FindName", &VellomarMenus::Mnu_FindName_Click);
  Mnu_Dedupe = AddItem("Mnu_Dedupe", &VellomarMenus::Mnu_Dedupe_Click);
  sep0 = AddItem("sep0");
  Mnu_ShowDns = AddItem("Mnu_ShowDns", &VellomarMenus::Mnu_ShowDns_Click);
  Mnu_OpenDnsNotepad = AddItem("Mnu_OpenDnsNotepad", &VellomarMenus::Mnu_OpenDnsNotepad_Click);
  Mnu_FlushDns = AddItem("Mnu_FlushDns", &VellomarMenus::Mnu_FlushDns_Click);
  sep1 = AddItem("sep1");
  Mnu_StopDnsService = AddItem("Mnu_StopDnsService", &VellomarMenus::Mnu_StopDnsService_Click);
  Mnu_StartDnsService = AddItem("Mnu_StartDnsService", &VellomarMenus::Mnu_StartDnsService_Click);
  sep2 = AddItem("sep2");
  Mnu_EnableDnD = AddItem("Mnu_EnableDnD");
  Mnu_WebLink = AddItem("Mnu_WebLink", &VellomarMenus::Mnu_WebLink_Click);
  sep3 = AddItem("sep3");
  Mnu_Exit = AddItem("Mnu_Exit", &VellomarMenus::Mnu_Exit_Click);

  Form_Load();
}

QAction* VellomarMenus::AddItem(std::string_view name, void (VellomarMenus::*handler)()) {
  const auto items = view::MenuItems();
  const auto described = std::find_if(
      items.begin(), items.end(), [&](const view::MenuEntry& item) { return item.name == name; });
  QAction* item =
      described->caption.empty()
          ? Mnu_File->addSeparator()
          : Mnu_File->addAction(QString::fromLatin1(
                described->caption.data(), static_cast<qsizetype>(described->caption.size())));
  item->setObjectName(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  item->setCheckable(described->checkable);
  if (handler != nullptr)
    connect(item, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  return item;
}

void VellomarMenus::Form_Load() {
  // Decided once per run: the update item does not come back or go away later.
  const bool merged_exists = platform::FileExists(form_.session().MergedFilePath());
  for (const view::MenuEntry& described : view::MenuItems()) {
    if (described.caption.empty()) continue;
    QAction* item = findChild<QAction*>(
        QString::fromLatin1(described.name.data(), static_cast<qsizetype>(described.name.size())));
    const view::MenuItemShown shown = view::ItemAtLoad(described, merged_exists);
    item->setVisible(shown.visible);
    item->setEnabled(shown.enabled);
    item->setText(
        QString::fromLatin1(shown.caption.data(), static_cast<qsizetype>(shown.caption.size())));
  }
}

void VellomarMenus::Mnu_HostFileCheck_Click() { form_.GetHostVersion(1); }

void VellomarMenus::Mnu_HostFileUpdate_Click() { form_.UpdateFromMerged(); }

void VellomarMenus::Mnu_FetchSources_Click() { form_.UpdateSourcesFromWeb(); }

void VellomarMenus::Mnu_FindName_Click() { form_.FindName(); }

void VellomarMenus::Mnu_Dedupe_Click() { form_.SetDedupe(Mnu_Dedupe->isChecked()); }

void VellomarMenus::Mnu_ShowDns_Click() { form_.DoDnsDisplay(); }

void VellomarMenus::Mnu_OpenDnsNotepad_Click() {
  if (Mnu_OpenDnsNotepad->isChecked()) form_.DoDnsDisplay();
}

void VellomarMenus::Mnu_FlushDns_Click() { form_.DoFlush(); }

void VellomarMenus::Mnu_StopDnsService_Click() { form_.session().StopDnsService(); }

void VellomarMenus::Mnu_StartDnsService_Click() { form_.session().StartDnsService(); }

void VellomarMenus::Mnu_WebLink_Click() {
  form_.session().ShellOpen(std::string(view::kWebLinkAddress));
}

void VellomarMenus::Mnu_Exit_Click() {
  form_.close();  // runs the window's unload, which ends the program
  QCoreApplication::quit();
}

}  // namespace vellomar::app
