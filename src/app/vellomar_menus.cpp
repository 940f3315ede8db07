#include "app/vellomar_menus.h"

#include <QCoreApplication>

#include "app/vellomar_form.h"
#include "dns/commands.h"
#include "platform/platform.h"
#include "support/shell.h"

namespace vellomar::app {

VellomarMenus::VellomarMenus(VellomarForm& form) : QWidget(nullptr), form_(form) {
  setObjectName(QStringLiteral("VellomarMenus"));
  setWindowTitle(QStringLiteral("Menus"));
  Mnu_File = new QMenu(QStringLiteral("&File"), this);
  Mnu_File->setObjectName(QStringLiteral("Mnu_File"));

  Mnu_HostFileCheck = AddItem("Mnu_HostFileCheck", QStringLiteral("Check Host Version"),
                              &VellomarMenus::Mnu_HostFileCheck_Click);
  Mnu_HostFileUpdate = AddItem("Mnu_HostFileUpdate", QStringLiteral("Update Host File"),
                               &VellomarMenus::Mnu_HostFileUpdate_Click);
  sep0 = AddSeparator("sep0");
  Mnu_ShowDns =
      AddItem("Mnu_ShowDns", QStringLiteral("Show Current DNS"), &VellomarMenus::Mnu_ShowDns_Click);
  Mnu_OpenDnsNotepad = AddItem("Mnu_OpenDnsNotepad", QStringLiteral("Show Current DNS in Notepad"),
                               &VellomarMenus::Mnu_OpenDnsNotepad_Click);
  Mnu_OpenDnsNotepad->setCheckable(true);
  Mnu_FlushDns =
      AddItem("Mnu_FlushDns", QStringLiteral("Flush Dns Now"), &VellomarMenus::Mnu_FlushDns_Click);
  sep1 = AddSeparator("sep1");
  Mnu_StopDnsService = AddItem("Mnu_StopDnsService", QStringLiteral("Stop Dns Cache service"),
                               &VellomarMenus::Mnu_StopDnsService_Click);
  Mnu_StartDnsService = AddItem("Mnu_StartDnsService", QStringLiteral("Start Dns Cache Service"),
                                &VellomarMenus::Mnu_StartDnsService_Click);
  sep2 = AddSeparator("sep2");
  Mnu_EnableDnD = AddItem("Mnu_EnableDnD",
                          QStringLiteral("Enable Drag and Drop 'hosts' File Replace"), nullptr);
  Mnu_EnableDnD->setCheckable(true);
  Mnu_WebLink = AddItem("Mnu_WebLink", QString::fromLatin1(kWebLinkAddress),
                        &VellomarMenus::Mnu_WebLink_Click);
  sep3 = AddSeparator("sep3");
  Mnu_Exit = AddItem("Mnu_Exit", QStringLiteral("&Exit"), &VellomarMenus::Mnu_Exit_Click);

  Form_Load();
}

QAction* VellomarMenus::AddItem(const char* name, const QString& caption,
                                void (VellomarMenus::*handler)()) {
  QAction* item = Mnu_File->addAction(caption);
  item->setObjectName(QString::fromLatin1(name));
  if (handler != nullptr)
    connect(item, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  return item;
}

QAction* VellomarMenus::AddSeparator(const char* name) {
  QAction* separator = Mnu_File->addSeparator();
  separator->setObjectName(QString::fromLatin1(name));
  return separator;
}

void VellomarMenus::Form_Load() {
  // Decided once per run: the item does not come back or go away later.
  if (!platform::FileExists(form_.session().MergedFilePath())) {
    Mnu_HostFileUpdate->setVisible(false);
  } else {
    Mnu_HostFileUpdate->setText(QStringLiteral("Update HOSTS file from Application Path"));
  }
  Mnu_EnableDnD->setEnabled(false);
}

void VellomarMenus::Mnu_HostFileCheck_Click() { form_.GetHostVersion(1); }

void VellomarMenus::Mnu_HostFileUpdate_Click() { form_.UpdateFromMerged(); }

void VellomarMenus::Mnu_ShowDns_Click() { form_.DoDnsDisplay(); }

void VellomarMenus::Mnu_OpenDnsNotepad_Click() {
  if (Mnu_OpenDnsNotepad->isChecked()) form_.DoDnsDisplay();
}

void VellomarMenus::Mnu_FlushDns_Click() { form_.DoFlush(); }

void VellomarMenus::Mnu_StopDnsService_Click() { form_.session().StopDnsService(); }

void VellomarMenus::Mnu_StartDnsService_Click() { form_.session().StartDnsService(); }

void VellomarMenus::Mnu_WebLink_Click() { form_.session().ShellOpen(kWebLinkAddress); }

void VellomarMenus::Mnu_Exit_Click() {
  form_.close();  // runs the window's unload, which ends the program
  QCoreApplication::quit();
}

}  // namespace vellomar::app
