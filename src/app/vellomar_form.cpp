#include "app/vellomar_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

#include "app/layout.h"
#include "app/vellomar_menus.h"
#include "catalogue/header_reader.h"
#include "catalogue/source_list.h"
#include "catalogue/version_report.h"
#include "dns/commands.h"
#include "dns/report.h"
#include "install/host_update.h"
#include "install/verdict.h"
#include "merge/merge_writer.h"
#include "platform/platform.h"
#include "support/centre.h"
#include "support/file_reader.h"
#include "support/shell.h"
#include "support/text.h"

namespace vellomar::app {
namespace {

// Places a control at a position given in twips.
void Place(QWidget* control, int left, int top, int width, int height) {
  control->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                       height / kTwipsPerPixel);
}

template <typename Control>
Control* Make(QWidget* parent, const char* name, const char* tip) {
  auto* control = new Control(parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setToolTip(QString::fromLatin1(tip));
  return control;
}

QFont TerminalFont() {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                    QStringLiteral("Noto Sans Mono"), QStringLiteral("Monospace")});
  font.setPointSize(9);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

void MakeVersionBox(QPlainTextEdit* box) {
  box->setReadOnly(true);
  box->setEnabled(false);
  box->setFont(TerminalFont());
  box->setPlainText(QStringLiteral("Text1"));
}

}  // namespace

QString ToQ(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQ(const QString& text) { return text.toUtf8().toStdString(); }

VellomarForm::VellomarForm(Environment env, QWidget* parent)
    : QWidget(parent),
      env_(std::move(env)),
      log_(support::ProgramLog(env_.program_folder, env_.program_name, env_.line_end)),
      file_list_folder_(FromQ(QDir::currentPath())) {
  setObjectName(QStringLiteral("VellomarForm"));
  setWindowTitle(QStringLiteral("Host file Creator"));
  setWindowIcon(QIcon(QStringLiteral(":/vellomar/vellomar.png")));
  resize(5115 / kTwipsPerPixel, 4980 / kTwipsPerPixel);
  // The layout is measured for a small dialog font.
  QFont dialog_font = font();
  dialog_font.setPointSize(8);
  setFont(dialog_font);
  setAcceptDrops(true);
  CreateControls();
}

VellomarForm::~VellomarForm() = default;

void VellomarForm::CreateControls() {
  CurrentVersionText = Make<QPlainTextEdit>(this, "CurrentVersionText", "Current Version");
  Place(CurrentVersionText, 30, 270, 5025, 645);
  MakeVersionBox(CurrentVersionText);

  MergeList = Make<CheckList>(this, "MergeList", "Select to include in merge file");
  Place(MergeList, 270, 1980, 2085, 2085);
  MergeList->setSelectionMode(QAbstractItemView::NoSelection);

  FileList = Make<QListWidget>(this, "FileList", "Double click to edit");
  Place(FileList, 2880, 2010, 1905, 2040);
  FileList->setSelectionMode(QAbstractItemView::SingleSelection);

  CreateMergedHosts =
      Make<QPushButton>(this, "CreateMergedHosts", "Recreate and Write Merged file to HOSTS");
  Place(CreateMergedHosts, 300, 4170, 2085, 315);
  CreateMergedHosts->setText(QStringLiteral("Write to HOSTS"));

  RefreshListButton = Make<QPushButton>(this, "RefreshListButton", "Refresh things");
  Place(RefreshListButton, 2910, 4170, 1875, 315);
  RefreshListButton->setText(QStringLiteral("Refresh"));

  MergedVersionText = Make<QPlainTextEdit>(this, "MergedVersionText", "Merge Version");
  Place(MergedVersionText, 30, 1260, 5025, 645);
  MakeVersionBox(MergedVersionText);

  InformationText = Make<QLineEdit>(this, "InformationText", "General Info.!");
  Place(InformationText, 300, 4560, 4455, 285);
  InformationText->setReadOnly(true);
  InformationText->setEnabled(false);
  InformationText->setText(QStringLiteral("Info"));

  Label1 = Make<ClickLabel>(this, "Label1", "Double click to edit the file");
  Place(Label1, 60, 60, 1215, 195);
  Label1->setText(QStringLiteral("Current Host File:"));
  Label2 = Make<ClickLabel>(this, "Label2", "Double click to edit the file");
  Place(Label2, 60, 1050, 1245, 195);
  Label2->setText(QStringLiteral("Merged Host File:"));
  CurrentHostsFileInfo =
      Make<ClickLabel>(this, "CurrentHostsFileInfo", "Click to refresh Version info");
  Place(CurrentHostsFileInfo, 1440, 60, 825, 195);
  MergedHostsFileInfo =
      Make<ClickLabel>(this, "MergedHostsFileInfo", "Click to refresh Version info");
  Place(MergedHostsFileInfo, 1410, 1050, 825, 195);

  AutoFlushDns = Make<MouseCheckBox>(this, "AutoFlushDns", "Auto flushdns after Hosts write");
  Place(AutoFlushDns, 3690, 60, 1365, 195);
  AutoFlushDns->setText(QStringLiteral("Auto FlushDns"));
  AutoFlushDns->setLayoutDirection(Qt::RightToLeft);  // the tick box right of the caption
  AutoFlushDns->setChecked(true);

  DisplayDnsText = Make<ReportBox>(this, "DisplayDnsText", "Double click to hide this display");
  Place(DisplayDnsText, 30, 60, 2475, 1695);
  DisplayDnsText->setReadOnly(true);
  DisplayDnsText->setFont(TerminalFont());
  DisplayDnsText->setLineWrapMode(QPlainTextEdit::NoWrap);
  DisplayDnsText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DisplayDnsText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DisplayDnsText->hide();

  Use_127 =
      Make<MouseCheckBox>(this, "Use_127", "Use 127.0.0.1 or 0.0.0.0 (RIGHT CLICK TO TOGGLE)");
  Place(Use_127, 3690, 1050, 1365, 195);
  Use_127->setTristate(true);
  Use_127->setLayoutDirection(Qt::RightToLeft);
  Use_127->setText(QStringLiteral("Use 127.0.0.1"));
  Use_127->setCheckState(Qt::Checked);

  for (QLabel* label : {Label1, Label2, CurrentHostsFileInfo, MergedHostsFileInfo}) {
    label->adjustSize();
  }
  // A summary starts after its caption, however wide the font makes the caption.
  for (auto [caption, summary] :
       {std::pair{Label1, CurrentHostsFileInfo}, std::pair{Label2, MergedHostsFileInfo}}) {
    summary->move(std::max(summary->x(), caption->geometry().right() + 4), summary->y());
  }
  // The check boxes keep their right edge and grow to the left when the font needs room.
  for (QCheckBox* box : {AutoFlushDns, Use_127}) {
    const QRect place = box->geometry();
    const int width = std::max(place.width(), box->sizeHint().width());
    const int height = std::max(place.height(), box->sizeHint().height());
    box->setGeometry(place.right() + 1 - width, place.top(), width, height);
  }

  DeleteTimer = new QTimer(this);
  DeleteTimer->setObjectName(QStringLiteral("DeleteTimer"));
  DeleteTimer->setInterval(2000);

  // The tab order runs over the focusable controls in the order of the table above.
  const QList<QWidget*> order = {
      CurrentVersionText, MergeList,       FileList,     CreateMergedHosts, RefreshListButton,
      MergedVersionText,  InformationText, AutoFlushDns, DisplayDnsText,    Use_127};
  for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);

  // Every change of a tick, the user's or the program's, reaches the click handler at once.
  connect(MergeList, &QListWidget::itemChanged, this, [this] { MergeList_Click(); });
  connect(FileList, &QListWidget::itemClicked, this, [this] { FileList_Click(); });
  connect(FileList, &QListWidget::itemDoubleClicked, this, [this] { FileList_DblClick(); });
  connect(RefreshListButton, &QPushButton::clicked, this, [this] { RefreshListButton_Click(); });
  connect(CreateMergedHosts, &QPushButton::clicked, this, [this] { CreateMergedHosts_Click(); });
  connect(CurrentHostsFileInfo, &ClickLabel::clicked, this,
          [this] { CurrentHostsFileInfo_Click(); });
  connect(MergedHostsFileInfo, &ClickLabel::clicked, this, [this] { MergedHostsFileInfo_Click(); });
  connect(Label1, &ClickLabel::doubleClicked, this, [this] { Label1_DblClick(); });
  connect(Label2, &ClickLabel::doubleClicked, this, [this] { Label2_DblClick(); });
  connect(Use_127, &QCheckBox::stateChanged, this, [this] { Use_127_Click(); });
  connect(Use_127, &MouseCheckBox::mouseDown, this,
          [this](int button, int shift) { Use_127_MouseDown(button, shift); });
  connect(AutoFlushDns, &MouseCheckBox::mouseDown, this,
          [this](int button, int shift) { AutoFlushDns_MouseDown(button, shift); });
  connect(DeleteTimer, &QTimer::timeout, this, [this] { DeleteTimer_Timer(); });
  connect(DisplayDnsText, &ReportBox::doubleClicked, this, [this] { DisplayDnsText_DblClick(); });
  connect(DisplayDnsText, &ReportBox::filesDropped, this,
          [this](const QStringList& files) { DisplayDnsText_OLEDragDrop(files); });
}

// ---- Start-up ---------------------------------------------------------------------------

void VellomarForm::Form_Load() {
  notepad_path_ = platform::FirstExisting(env_.notepad_candidates);
  ipconfig_path_ = platform::FirstExisting(env_.ipconfig_candidates);
  hosts_file_path_ = platform::FirstExisting(env_.hosts_candidates);
  merged_file_path_ = ProgramFile("M_Hosts.txt");
  setWindowTitle(ToQ(WindowTitle(env_.version_major, env_.version_minor, env_.version_revision)));
  GetHostVersion(0);
  ClearMergeList();
  move(0, 0);
  CentreForm();
  SetUse127Value(2);
  WriteMergeFile();
  if (env_.is_admin && env_.is_admin()) {
    InformationText->setText(QStringLiteral("Admin User"));
  } else {
    SetInformation("You may need to run as Administrator to write hosts", kRed);
  }
}

void VellomarForm::CentreForm() {
  const QScreen* screen = this->screen();
  if (screen == nullptr) return;
  const QRect frame = frameGeometry();
  const auto position = support::CentredPosition(static_cast<float>(screen->geometry().width()),
                                                 static_cast<float>(screen->geometry().height()),
                                                 static_cast<float>(frame.width()),
                                                 static_cast<float>(frame.height()));
  move(static_cast<int>(position.left), static_cast<int>(position.top));
}

// ---- Window ---------------------------------------------------------------------------

void VellomarForm::Form_Resize() {
  const QRect frame = frameGeometry();
  const TwipRect box =
      DnsBoxLayout(frame.width() * kTwipsPerPixel, frame.height() * kTwipsPerPixel);
  Place(DisplayDnsText, box.left, box.top, box.width, box.height);
}

void VellomarForm::Form_MouseDown(int Button, int /*Shift*/) {
  if (Button != kRightButton) return;
  Menus().Mnu_File->exec(QCursor::pos());
}

void VellomarForm::Form_Unload() {
  const std::string script = CaptureScriptPath();
  if (platform::FileExists(script)) platform::DeleteFile(script);
  const std::string capture = CaptureFilePath();
  if (platform::FileExists(capture)) platform::DeleteFile(capture);
  if (menus_) menus_->close();
  QCoreApplication::quit();
}

void VellomarForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void VellomarForm::mousePressEvent(QMouseEvent* event) {
  // Presses over the window itself and over the disabled text boxes arrive here.
  Form_MouseDown(ButtonMask(event->button()), ShiftMask(event->modifiers()));
  event->accept();
}

void VellomarForm::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void VellomarForm::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void VellomarForm::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void VellomarForm::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  Form_OLEDragDrop(DroppedFiles(event->mimeData()));
}

void VellomarForm::Form_OLEDragDrop(const QStringList& files) {
  if (!Menus().Mnu_EnableDnD->isChecked()) return;
  // The option is never available; were it ticked, a drop would only refresh the reports.
  if (files.isEmpty()) return;
  GetHostVersion(0);
}

void VellomarForm::DisplayDnsText_OLEDragDrop(const QStringList& files) {
  if (files.isEmpty()) return;
  DisplayDnsText->setPlainText(ToQ(support::ReadWholeFile(FromQ(files.front()))));
}

VellomarMenus& VellomarForm::Menus() {
  if (!menus_) menus_ = std::make_unique<VellomarMenus>(*this);
  return *menus_;
}

// ---- Source catalogue -------------------------------------------------------------------

void VellomarForm::ClearMergeList() {
  const std::string folder = ProgramFile(std::string(catalogue::kSourceFolderName));
  auto names = catalogue::ListSources(folder);
  if (names) {
    file_list_folder_ = folder;
  } else {
    // A folder that cannot be set leaves the list on the folder it showed before.
    names = catalogue::ListSources(file_list_folder_);
  }
  FileList->clear();
  MergeList->clear();
  if (names) {
    for (const auto& name : *names) {
      FileList->addItem(ToQ(name));
      auto* entry = new QListWidgetItem(ToQ(name));
      entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      entry->setCheckState(Qt::Unchecked);
      MergeList->addItem(entry);
    }
  }
  if (MergeList->count() > 0) SelectEntry(0, true);
  GetFileInfo2(hosts_file_path_, true);
}

void VellomarForm::MergeList_Click() {
  if (selecting_from_hosts_) return;
  if (merge_click_busy_) return;
  merge_click_busy_ = true;
  WriteMergeFile();
  merge_click_busy_ = false;
}

void VellomarForm::FileList_Click() {
  const QListWidgetItem* entry = FileList->currentItem();
  if (entry == nullptr) return;
  InformationText->setText(
      ToQ(GetFileInfo(platform::JoinPath(file_list_folder_, FromQ(entry->text())))));
}

void VellomarForm::FileList_DblClick() {
  const QListWidgetItem* entry = FileList->currentItem();
  if (entry == nullptr) return;
  const std::string path = platform::JoinPath(file_list_folder_, FromQ(entry->text()));
  if (platform::FileExists(path)) support::ShellOpen(*env_.launcher, path);
}

void VellomarForm::RefreshListButton_Click() {
  GetHostVersion(0);
  ClearMergeList();
  WriteMergeFile();
}

void VellomarForm::SelectEntry(int index, bool selected) {
  QListWidgetItem* entry = MergeList->item(index);
  if (entry != nullptr) entry->setCheckState(selected ? Qt::Checked : Qt::Unchecked);
}

int VellomarForm::SelectedCount() const {
  int count = 0;
  for (int i = 0; i < MergeList->count(); ++i) {
    if (MergeList->item(i)->checkState() == Qt::Checked) ++count;
  }
  return count;
}

// ---- Header reader and version report ------------------------------------------------------

std::string VellomarForm::GetFileInfo(const std::string& FileName) {
  return catalogue::FileSummary(FileName, env_.line_end);
}

std::string VellomarForm::GetFileInfo2(const std::string& FileName, bool IsCurrent) {
  const catalogue::HeaderReport report = catalogue::ReadHeaderFile(FileName, env_.line_end);
  std::string& created = IsCurrent ? current_created_ : merged_created_;
  std::string& updated = IsCurrent ? current_updated_ : merged_updated_;
  const std::string fallback(IsCurrent ? catalogue::kCurrentDefault : catalogue::kMergedDefault);
  created = report.created.value_or(fallback);
  updated = report.updated.value_or(fallback);
  for (const auto& name : report.source_names) {
    const QString wanted = ToQ(name);
    for (int i = 0; i < MergeList->count(); ++i) {
      if (MergeList->item(i)->text() == wanted) {
        selecting_from_hosts_ = true;
        SelectEntry(i, true);
        selecting_from_hosts_ = false;
        break;
      }
    }
  }
  return report.version_text;
}

void VellomarForm::GetHostVersion(int Index) {
  if (Index == 0 || Index == 1) {
    std::string version;
    if (catalogue::IsReadableForReport(hosts_file_path_)) {
      CurrentHostsFileInfo->setText(ToQ(GetFileInfo(hosts_file_path_)));
      CurrentHostsFileInfo->adjustSize();
      version = GetFileInfo2(hosts_file_path_, true);
    }
    SetBackColor(CurrentVersionText, WindowColour());
    CurrentVersionText->setPlainText(ToQ(version));
  }
  if (Index == 1) return;
  SetBackColor(MergedVersionText, kYellow);
  MergedVersionText->setPlainText(QString());
  if (!catalogue::IsReadableForReport(merged_file_path_)) return;
  SetBackColor(MergedVersionText, WindowColour());
  MergedHostsFileInfo->setText(ToQ(GetFileInfo(merged_file_path_)));
  MergedHostsFileInfo->adjustSize();
  MergedVersionText->setPlainText(ToQ(GetFileInfo2(merged_file_path_, false)));
  if (merged_updated_ != current_updated_ || merged_created_ != current_created_) {
    SetBackColor(MergedVersionText, kYellow);
  }
}

void VellomarForm::CurrentHostsFileInfo_Click() { GetHostVersion(1); }

void VellomarForm::CurrentVersionText_DblClick() { GetHostVersion(1); }

void VellomarForm::MergedHostsFileInfo_Click() { GetHostVersion(2); }

void VellomarForm::Label1_DblClick() { OpenInEditor(hosts_file_path_); }

void VellomarForm::Label2_DblClick() { OpenInEditor(merged_file_path_); }

void VellomarForm::OpenInEditor(const std::string& path) {
  if (!platform::FileExists(path) || notepad_path_.empty()) return;
  // Program and path as separate arguments, so a path with blanks reaches the editor whole.
  env_.launcher->Start({notepad_path_, path}, platform::WindowStyle::kNormalFocus);
}

// ---- Merge -------------------------------------------------------------------------------

void VellomarForm::WriteMergeFile() {
  // A call raised by the run's own deselections must leave the running merge alone.
  if (merge_running_) return;
  int first = -1;
  for (int i = 0; i < MergeList->count() && first < 0; ++i) {
    if (MergeList->item(i)->checkState() == Qt::Checked) first = i;
  }
  if (first < 0) {
    SetInformation("You must select at least one", kYellow);
    return;
  }
  if (!merge::IsHeaderEntry(FromQ(MergeList->item(first)->text()))) {
    SetInformation("You must select a Header file", kYellow);
    return;
  }
  merge_running_ = true;
  SetInformation("Scanning", WindowColour());

  const auto mode = static_cast<merge::AddressMode>(Use127Value());
  const std::string date = env_.clock ? env_.clock() : std::string();
  merge::MergeWriter writer(merged_file_path_, mode, env_.line_end, date);
  bool header_taken = false;
  bool mvps_taken = false;
  std::string text;  // one buffer for every source: a large merge faults its pages in once
  for (int i = 0; i < MergeList->count(); ++i) {
    QListWidgetItem* entry = MergeList->item(i);
    if (entry->checkState() != Qt::Checked) continue;
    const std::string name = FromQ(entry->text());
    const bool current_is_header = merge::IsHeaderEntry(name);
    if (current_is_header) {
      if (header_taken) SelectEntry(i, false);
      header_taken = true;
    }
    if (merge::IsMvpsEntry(name)) {
      if (mvps_taken) SelectEntry(i, false);
      mvps_taken = true;
    }
    if (entry->checkState() != Qt::Checked) continue;
    support::ReadWholeFileInto(platform::JoinPath(file_list_folder_, name), text);
    if (current_is_header) {
      writer.AddHeader(text);
    } else {
      writer.AddSource(name, text);
    }
    CreateMergedHosts->setText(QString::number(i) + QStringLiteral(" of ") +
                               QString::number(SelectedCount()));
    emit MergeProgress(CreateMergedHosts->text());
  }
  if (writer.Commit() == merge::MergeWriter::CommitResult::kReplaceFailed) {
    support::WriteLog(log_, "Failed to Kill " + merged_file_path_);
  }
  const std::string shown =
      support::ReplaceAll(merged_file_path_, env_.program_folder + platform::PathSeparator(), "");
  InformationText->setText(
      ToQ("Merged " + GetFileInfo(merged_file_path_) + " - File:[ " + shown + " ]"));
  CreateMergedHosts->setText(QStringLiteral("Write to HOSTS"));
  emit MergeProgress(CreateMergedHosts->text());
  merge_running_ = false;
  GetHostVersion(2);
}

int VellomarForm::Use127Value() const {
  switch (Use_127->checkState()) {
    case Qt::Unchecked:
      return 0;
    case Qt::Checked:
      return 1;
    default:
      return 2;
  }
}

void VellomarForm::SetUse127Value(int value) {
  Use_127->setCheckState(value == 0   ? Qt::Unchecked
                         : value == 1 ? Qt::Checked
                                      : Qt::PartiallyChecked);
}

void VellomarForm::Use_127_Click() {
  Use_127->setText(
      ToQ(std::string(merge::AddressModeCaption(static_cast<merge::AddressMode>(Use127Value())))));
  MergeList_Click();
}

void VellomarForm::Use_127_MouseDown(int Button, int /*Shift*/) {
  if (Button != kRightButton) return;
  SetUse127Value(
      static_cast<int>(merge::ToggledAddressMode(static_cast<merge::AddressMode>(Use127Value()))));
}

// ---- Install ------------------------------------------------------------------------------

void VellomarForm::CreateMergedHosts_Click() {
  WriteMergeFile();
  DoHostUpdate(merged_file_path_);
  GetHostVersion(0);
  TestAndRefresh();
}

void VellomarForm::DoHostUpdate(const std::string& ThisFile) {
  install::DoHostUpdate(ThisFile, hosts_file_path_, log_);
}

void VellomarForm::TestAndRefresh() {
  const bool failed = install::InstallFailed(FromQ(MergedVersionText->toPlainText()),
                                             FromQ(CurrentVersionText->toPlainText()),
                                             merged_file_path_, hosts_file_path_);
  if (failed) {
    SetBackColor(CurrentVersionText, kYellow);
    SetBackColor(MergedVersionText, kYellow);
    SetInformation("You may need to run as Administrator HOSTS Write Failed", kRed);
    return;
  }
  SetBackColor(CurrentVersionText, WindowColour());
  SetBackColor(MergedVersionText, WindowColour());
  SetInformation("Done " + GetFileInfo(merged_file_path_) + " - Copied to HOSTS", kGreen);
  if (AutoFlushDnsValue() == 1) DoFlush();
}

// ---- DNS -----------------------------------------------------------------------------------

void VellomarForm::DoFlush() {
  if (ipconfig_path_.empty()) return;
  env_.launcher->Start(dns::FlushCommand(ipconfig_path_, env_.dialect),
                       platform::WindowStyle::kMinimizedNoFocus);
}

void VellomarForm::AutoFlushDns_MouseDown(int /*Button*/, int Shift) {
  if (Shift == 0) return;
  DoFlush();
  AutoFlushDns->setChecked(true);
}

int VellomarForm::AutoFlushDnsValue() const {
  return AutoFlushDns->checkState() == Qt::Checked ? 1 : 0;
}

void VellomarForm::DoDnsDisplay() {
  DeleteTimer->stop();
  const std::string capture = CaptureFilePath();
  if (platform::FileExists(capture)) {
    platform::DeleteFile(capture);
    if (platform::FileExists(capture)) {
      support::WriteLog(log_, "Failed to Kill " + std::string(dns::kCaptureFileName));
    }
  }
  const std::string script = CaptureScriptPath();
  if (platform::FileExists(script)) {
    platform::DeleteFile(script);
    if (platform::FileExists(script)) support::WriteLog(log_, "Failed to Kill " + script);
  }
  if (ipconfig_path_.empty()) return;
  Menus().Mnu_ShowDns->setEnabled(false);
  // Created afresh and only for its owner: it runs with this program's rights.
  if (platform::CreatePrivateScript(script, dns::CaptureScriptText(ipconfig_path_, env_.dialect))) {
    // The script names the capture file relative to the program folder it starts in.
    env_.launcher->Start(dns::CaptureScriptCommand(script, env_.dialect),
                         platform::WindowStyle::kMinimizedFocus, env_.program_folder);
  }
  DeleteTimer->start();
}

void VellomarForm::DeleteTimer_Timer() {
  const std::string capture = CaptureFilePath();
  if (!platform::FileExists(capture)) return;
  const std::string text = support::ReadWholeFile(capture);
  if (!support::Contains(text, dns::kFinishedMarker)) return;
  const std::string script = CaptureScriptPath();
  if (platform::FileExists(script)) platform::DeleteFile(script);
  const std::string report = dns::BuildReport(text, env_.line_end);
  DisplayDnsText->setPlainText(ToQ(report));
  SetBackColor(DisplayDnsText, WindowColour());
  if (FromQ(DisplayDnsText->toPlainText()) != report) SetBackColor(DisplayDnsText, kYellow);
  if (Menus().Mnu_OpenDnsNotepad->isChecked()) {
    if (platform::FileExists(capture)) support::ShellOpen(*env_.launcher, capture);
  } else {
    DisplayDnsText->show();
  }
  DeleteTimer->stop();
  Menus().Mnu_ShowDns->setEnabled(true);
}

void VellomarForm::DisplayDnsText_DblClick() {
  if (BackColor(DisplayDnsText) == kYellow && platform::FileExists(CaptureFilePath())) {
    support::ShellOpen(*env_.launcher, CaptureFilePath());
  }
  DisplayDnsText->setPlainText(QString());
  DisplayDnsText->hide();
}

// ---- Helpers -------------------------------------------------------------------------------

std::string VellomarForm::ProgramFile(const std::string& name) const {
  return platform::JoinPath(env_.program_folder, name);
}

std::string VellomarForm::CaptureFilePath() const {
  return ProgramFile(std::string(dns::kCaptureFileName));
}

std::string VellomarForm::CaptureScriptPath() const {
  return ProgramFile(dns::CaptureScriptName(env_.dialect));
}

void VellomarForm::SetInformation(const std::string& text) { InformationText->setText(ToQ(text)); }

void VellomarForm::SetInformation(const std::string& text, const QColor& colour) {
  SetBackColor(InformationText, colour);
  SetInformation(text);
}

QColor VellomarForm::BackColor(const QWidget* box) { return box->palette().color(QPalette::Base); }

void VellomarForm::SetBackColor(QWidget* box, const QColor& colour) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, colour);  // every state, the disabled one included
  box->setPalette(palette);
}

QColor VellomarForm::WindowColour() const {
  return QApplication::palette().color(QPalette::Active, QPalette::Base);
}

}  // namespace vellomar::app
