#include "app/vellomar_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <algorithm>
#include <string_view>
#include <tuple>

#include "app/vellomar_menus.h"
#include "platform/platform.h"
#include "support/centre.h"
#include "support/file_reader.h"
#include "view/status_text.h"

namespace vellomar::app {
namespace {

QString Latin(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Places a control at a position given in twips.
void Place(QWidget* control, const view::TwipRect& place) {
  control->setGeometry(place.left / view::kTwipsPerPixel, place.top / view::kTwipsPerPixel,
                       place.width / view::kTwipsPerPixel, place.height / view::kTwipsPerPixel);
}

// A control of the window's table: its name, tip, place and first caption.
template <typename Control>
Control* Make(QWidget* parent, std::string_view name) {
  const view::ControlEntry& described = view::Control(name);
  auto* control = new Control(parent);
  control->setObjectName(Latin(described.name));
  control->setToolTip(Latin(described.tip));
  Place(control, described.place);
  if constexpr (requires { control->setText(QString()); }) {
    if (!described.caption.empty()) control->setText(Latin(described.caption));
  } else if constexpr (requires { control->setPlainText(QString()); }) {
    control->setPlainText(Latin(described.caption));
  }
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

// A disabled box draws its text in black rather than the faint disabled grey, so that it reads
// on every background it takes (white, yellow, green, red).
void ReadableWhenDisabled(QWidget* box) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
  box->setPalette(palette);
}

void MakeVersionBox(QPlainTextEdit* box) {
  box->setReadOnly(true);
  box->setEnabled(false);
  ReadableWhenDisabled(box);
  box->setFont(TerminalFont());
}

Qt::CheckState BoxState(view::TickState tick) {
  switch (tick) {
    case view::TickState::kUnticked:
      return Qt::Unchecked;
    case view::TickState::kTicked:
      return Qt::Checked;
    case view::TickState::kGrayed:
      break;
  }
  return Qt::PartiallyChecked;
}

view::TickState TickOf(Qt::CheckState state) {
  return state == Qt::Unchecked ? view::TickState::kUnticked
         : state == Qt::Checked ? view::TickState::kTicked
                                : view::TickState::kGrayed;
}

}  // namespace

QString ToQ(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQ(const QString& text) { return text.toUtf8().toStdString(); }

VellomarForm::VellomarForm(Environment env, QWidget* parent)
    : QWidget(parent), session_(std::move(env)) {
  setObjectName(QStringLiteral("VellomarForm"));
  setWindowTitle(Latin(view::kFirstTitle));
  setWindowIcon(QIcon(QStringLiteral(":/vellomar/vellomar.png")));
  resize(view::kClientWidth / view::kTwipsPerPixel, view::kClientHeight / view::kTwipsPerPixel);
  // The layout is measured for a small dialog font.
  QFont dialog_font = font();
  dialog_font.setPointSize(8);
  setFont(dialog_font);
  setAcceptDrops(true);
  CreateControls();
  // Nothing but the report box would follow a resize: the window keeps the size it is laid
  // out for.
  setFixedSize(size());

  session_.on_progress = [this](const std::string& caption) {
    CreateMergedHosts->setText(ToQ(caption));
    emit MergeProgress(CreateMergedHosts->text());
  };
}

VellomarForm::~VellomarForm() = default;

void VellomarForm::CreateControls() {
  CurrentVersionText = Make<QPlainTextEdit>(this, "CurrentVersionText");
  MakeVersionBox(CurrentVersionText);

  MergeList = Make<CheckList>(this, "MergeList");
  MergeList->setSelectionMode(QAbstractItemView::NoSelection);

  FileList = Make<QListWidget>(this, "FileList");
  FileList->setSelectionMode(QAbstractItemView::SingleSelection);

  CreateMergedHosts = Make<QPushButton>(this, "CreateMergedHosts");
  RefreshListButton = Make<QPushButton>(this, "RefreshListButton");

  MergedVersionText = Make<QPlainTextEdit>(this, "MergedVersionText");
  MakeVersionBox(MergedVersionText);

  InformationText = Make<QLineEdit>(this, "InformationText");
  InformationText->setReadOnly(true);
  InformationText->setEnabled(false);
  ReadableWhenDisabled(InformationText);

  Label1 = Make<ClickLabel>(this, "Label1");
  Label2 = Make<ClickLabel>(this, "Label2");
  CurrentHostsFileInfo = Make<ClickLabel>(this, "CurrentHostsFileInfo");
  MergedHostsFileInfo = Make<ClickLabel>(this, "MergedHostsFileInfo");

  AutoFlushDns = Make<MouseCheckBox>(this, "AutoFlushDns");
  AutoFlushDns->setLayoutDirection(Qt::RightToLeft);  // the tick box right of the caption
  AutoFlushDns->setChecked(true);

  DisplayDnsText = Make<ReportBox>(this, "DisplayDnsText");
  DisplayDnsText->setReadOnly(true);
  DisplayDnsText->setFont(TerminalFont());
  DisplayDnsText->setLineWrapMode(QPlainTextEdit::NoWrap);
  DisplayDnsText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DisplayDnsText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  DisplayDnsText->hide();

  Use_127 = Make<MouseCheckBox>(this, "Use_127");
  Use_127->setTristate(true);
  Use_127->setLayoutDirection(Qt::RightToLeft);
  Use_127->setCheckState(BoxState(view::TickOf(merge::kDesignedAddressMode)));

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

  WidenForSummaries();

  DeleteTimer = new QTimer(this);
  DeleteTimer->setObjectName(QStringLiteral("DeleteTimer"));
  DeleteTimer->setInterval(view::kCapturePollMs);

  // The tab order runs over the focusable controls in the order of the table above.
  const QList<QWidget*> order = {
      CurrentVersionText, MergeList,       FileList,     CreateMergedHosts, RefreshListButton,
      MergedVersionText,  InformationText, AutoFlushDns, DisplayDnsText,    Use_127};
  for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);

  // Every change of a tick, the user's or the program's, reaches the click handler at once.
  connect(MergeList, &QListWidget::itemChanged, this,
          [this](QListWidgetItem* item) { MergeList_ItemChanged(item); });
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
  const Environment& env = session_.env();
  setWindowTitle(
      ToQ(view::WindowTitle(env.version_major, env.version_minor, env.version_revision)));
  session_.StartUp();
  Draw();
  move(0, 0);
  CentreForm();
}

void VellomarForm::WidenForSummaries() {
  // Real lists give 7-digit line counts and lengths of millions: the window grows to the right
  // by what such summaries need beyond its laid-out width, and the boxes, the lists and the
  // buttons share the extra width, so that nothing overlaps and long names show more.
  const int widest =
      fontMetrics().horizontalAdvance(QStringLiteral("9999999 Lines - len: 999999999"));
  int needed = width();
  for (auto [summary, box] :
       {std::pair{CurrentHostsFileInfo, AutoFlushDns}, std::pair{MergedHostsFileInfo, Use_127}}) {
    needed = std::max(needed, summary->x() + widest + 8 + box->width() + 2);
  }
  const int extra = needed - width();
  if (extra <= 0) return;
  const int half = extra / 2;
  resize(width() + extra, height());
  for (QWidget* box :
       std::initializer_list<QWidget*>{CurrentVersionText, MergedVersionText, InformationText}) {
    box->resize(box->width() + extra, box->height());
  }
  for (QWidget* box : std::initializer_list<QWidget*>{AutoFlushDns, Use_127}) {
    box->move(box->x() + extra, box->y());
  }
  for (QWidget* left : std::initializer_list<QWidget*>{MergeList, CreateMergedHosts}) {
    left->resize(left->width() + half, left->height());
  }
  for (QWidget* right : std::initializer_list<QWidget*>{FileList, RefreshListButton}) {
    right->setGeometry(right->x() + half, right->y(), right->width() + extra - half,
                       right->height());
  }
}

void VellomarForm::DrawSummary(QLabel* summary, const QString& text) {
  // The summary grows with its text up to the check box on its right, and no further: a
  // longer one is cut with an ellipsis and shown whole in the tool tip.
  const QCheckBox* neighbour = summary == CurrentHostsFileInfo ? AutoFlushDns : Use_127;
  const int room = std::max(0, neighbour->geometry().left() - 4 - summary->x());
  const QString shown = summary->fontMetrics().elidedText(text, Qt::ElideRight, room);
  if (summary->text() != shown) summary->setText(shown);
  summary->setToolTip(shown == text ? QStringLiteral("Click to refresh Version info") : text);
  summary->resize(std::min(room, summary->sizeHint().width()), summary->height());
}

void VellomarForm::AddNotice(const std::string& text) {
  session_.AddNote(text);
  Draw();
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

// ---- Drawing the session ---------------------------------------------------------------------

QColor VellomarForm::ColourOf(view::ColourRole role) {
  switch (role) {
    case view::ColourRole::kYellow:
      return kYellow;
    case view::ColourRole::kRed:
      return kRed;
    case view::ColourRole::kGreen:
      return kGreen;
    case view::ColourRole::kWindow:
      break;
  }
  return QApplication::palette().color(QPalette::Active, QPalette::Base);
}

void VellomarForm::DrawStatus(const view::WindowContent& content) {
  const QString text = ToQ(content.status);
  SetBackColor(InformationText, ColourOf(content.status_colour));
  // A text longer than the box loses its middle, not its end, where the reason stands; the
  // tip holds it whole.
  const int room = InformationText->contentsRect().width() - 8;
  const QString shown = InformationText->fontMetrics().elidedText(text, Qt::ElideMiddle, room);
  InformationText->setText(shown);
  InformationText->setCursorPosition(0);
  InformationText->setToolTip(shown == text ? QStringLiteral("General Info.!") : text);
}

void VellomarForm::Draw() {
  const auto& entries = session_.Entries();
  {
    // The program's own drawing of the ticks is no change of the user's.
    const QSignalBlocker block_merge(MergeList);
    const QSignalBlocker block_files(FileList);
    if (drawn_generation_ != session_.EntriesGeneration()) {
      drawn_generation_ = session_.EntriesGeneration();
      FileList->clear();
      MergeList->clear();
      for (const auto& entry : entries) {
        // Names are shown as UTF-8 where they are; the entries keep their bytes.
        FileList->addItem(ToQ(entry.name));
        FileList->item(FileList->count() - 1)->setToolTip(ToQ(entry.name));
        auto* item = new QListWidgetItem(ToQ(entry.name));
        item->setToolTip(ToQ(entry.name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        MergeList->addItem(item);
      }
    }
    for (int i = 0; i < MergeList->count() && static_cast<std::size_t>(i) < entries.size(); ++i) {
      const Qt::CheckState state = entries[i].ticked ? Qt::Checked : Qt::Unchecked;
      if (MergeList->item(i)->checkState() != state) MergeList->item(i)->setCheckState(state);
    }
  }
  const view::WindowContent content = view::Present(session_);
  DrawStatus(content);
  for (auto [side, box, summary] :
       {std::tuple{&content.installed, CurrentVersionText, CurrentHostsFileInfo},
        std::tuple{&content.merged, MergedVersionText, MergedHostsFileInfo}}) {
    DrawSummary(summary, ToQ(side->summary));
    SetBackColor(box, ColourOf(side->colour));
    if (box->toPlainText() != ToQ(side->version_text)) box->setPlainText(ToQ(side->version_text));
  }

  const Qt::CheckState state = BoxState(content.use_127);
  if (Use_127->checkState() != state) {
    const QSignalBlocker block(Use_127);
    Use_127->setCheckState(state);
  }
  Use_127->setText(ToQ(content.use_127_caption));
}

// ---- Window ---------------------------------------------------------------------------

void VellomarForm::Form_Resize() {
  const QRect frame = frameGeometry();
  Place(DisplayDnsText, view::DnsBoxLayout(frame.width() * view::kTwipsPerPixel,
                                           frame.height() * view::kTwipsPerPixel));
}

void VellomarForm::Form_MouseDown(int Button, int /*Shift*/) {
  if (Button != kRightButton) return;
  Menus().Mnu_File->exec(QCursor::pos());
}

void VellomarForm::Form_Unload() {
  session_.CleanUp();
  if (menus_) menus_->close();
  QCoreApplication::quit();
}

void VellomarForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void VellomarForm::mousePressEvent(QMouseEvent* event) {
  // Only presses over the window itself and over the disabled text boxes raise the window's
  // handler: an enabled control that leaves a press to its parent (a button, a label) keeps
  // it to itself.
  QWidget* control = childAt(event->position().toPoint());
  while (control != nullptr && control->parentWidget() != this) control = control->parentWidget();
  if (control == nullptr || !control->isEnabled()) {
    Form_MouseDown(ButtonMask(event->button()), ShiftMask(event->modifiers()));
  }
  event->accept();
}

void VellomarForm::keyPressEvent(QKeyEvent* event) {
  // The command menu from the keyboard too, at the window's centre: the keys that the focused
  // control leaves alone arrive here.
  const bool menu_key = event->key() == Qt::Key_Menu ||
                        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (!menu_key) {
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
  Menus().Mnu_File->exec(mapToGlobal(rect().center()));
}

void VellomarForm::closeEvent(QCloseEvent* event) {
  // Disabled while an install waits for the administrator's password: the install finishes
  // (or is cancelled in its own dialog) before the window may go.
  if (!isEnabled()) {
    event->ignore();
    return;
  }
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

void VellomarForm::MergeList_Click() {
  session_.OnSelectionChanged();
  Draw();
}

void VellomarForm::MergeList_ItemChanged(QListWidgetItem* item) {
  const int row = MergeList->row(item);
  if (row < 0) return;
  session_.SetTicked(static_cast<std::size_t>(row), item->checkState() == Qt::Checked);
  Draw();
}

void VellomarForm::FileList_Click() {
  const int row = FileList->currentRow();
  if (row < 0) return;
  session_.ShowFileSummary(static_cast<std::size_t>(row));
  Draw();
}

void VellomarForm::FileList_DblClick() {
  const int row = FileList->currentRow();
  if (row < 0) return;
  const std::string path = session_.EntryPath(static_cast<std::size_t>(row));
  if (platform::FileExists(path)) session_.ShellOpen(path);
}

void VellomarForm::RefreshListButton_Click() {
  session_.Refresh();
  Draw();
}

// ---- Header reader and version report ------------------------------------------------------

void VellomarForm::GetHostVersion(int Index) {
  session_.RefreshVersions(Index == 0   ? session::Sides::kBoth
                           : Index == 1 ? session::Sides::kInstalled
                                        : session::Sides::kMerged);
  Draw();
}

void VellomarForm::CurrentHostsFileInfo_Click() { GetHostVersion(1); }

// The box is disabled for the whole run, so a double click never arrives here.
void VellomarForm::CurrentVersionText_DblClick() { GetHostVersion(1); }

void VellomarForm::MergedHostsFileInfo_Click() { GetHostVersion(2); }

void VellomarForm::Label1_DblClick() { session_.OpenInEditor(session_.HostsFilePath()); }

void VellomarForm::Label2_DblClick() { session_.OpenInEditor(session_.MergedFilePath()); }

// ---- Merge -------------------------------------------------------------------------------

int VellomarForm::Use127Value() const { return static_cast<int>(session_.Mode()); }

void VellomarForm::Use_127_Click() {
  // The box has moved itself on a click; the session follows.
  session_.SetMode(view::ModeOf(TickOf(Use_127->checkState())));
  Draw();
}

void VellomarForm::Use_127_MouseDown(int Button, int /*Shift*/) {
  if (Button != kRightButton) return;
  session_.SetMode(merge::ToggledAddressMode(session_.Mode()));
  Draw();
}

void VellomarForm::SetDedupe(bool dedupe) {
  session_.SetDedupe(dedupe);
  Draw();
}

// ---- Install ------------------------------------------------------------------------------

void VellomarForm::CreateMergedHosts_Click() {
  const bool auto_flush = AutoFlushDnsValue() == 1;
  if (session_.MergeAndInstall(auto_flush) == session::Verdict::kOwnEntriesAtStake) {
    AskToDropOwnEntries(auto_flush);
  }
  Draw();
}

void VellomarForm::UpdateFromMerged() {
  const bool auto_flush = AutoFlushDnsValue() == 1;
  if (session_.InstallMerged(auto_flush) == session::Verdict::kOwnEntriesAtStake) {
    AskToDropOwnEntries(auto_flush);
  }
  Draw();
}

void VellomarForm::UpdateSourcesFromWeb() {
  fetching_ = true;
  // Told on the worker that fetches (see FetchingInWindow): the text goes to this thread.
  session_.on_fetch_progress = [this](const std::string& list, std::uint64_t bytes) {
    const QString text = ToQ(view::FetchProgressText(list, bytes));
    QMetaObject::invokeMethod(
        this,
        [this, text] {
          if (!fetching_) return;
          InformationText->setText(text);
          InformationText->setCursorPosition(0);
        },
        Qt::QueuedConnection);
  };
  session_.UpdateSourcesFromWeb();
  session_.on_fetch_progress = nullptr;
  fetching_ = false;
  Draw();
}

void VellomarForm::FindName() {
  bool answered = false;
  const QString name =
      QInputDialog::getText(this,
                            QString::fromUtf8(view::kFindNameTitle.data(),
                                              static_cast<qsizetype>(view::kFindNameTitle.size())),
                            QString::fromUtf8(view::kFindNamePrompt.data(),
                                              static_cast<qsizetype>(view::kFindNamePrompt.size())),
                            QLineEdit::Normal, {}, &answered);
  if (!answered || name.trimmed().isEmpty()) return;
  (void)session_.FindName(FromQ(name.trimmed()));
  Draw();
}

void VellomarForm::AskToDropOwnEntries(bool auto_flush) {
  Draw();  // the status says that nothing was written while the question waits
  const auto answer = QMessageBox::question(
      this,
      QString::fromUtf8(view::kOwnEntriesTitle.data(),
                        static_cast<qsizetype>(view::kOwnEntriesTitle.size())),
      QString::fromStdString(view::OwnEntriesQuestion(session_.OwnEntriesAtStake())),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer == QMessageBox::Yes) session_.InstallMerged(auto_flush, true);
}

// ---- DNS -----------------------------------------------------------------------------------

void VellomarForm::DoFlush() {
  session_.FlushResolverCache();
  Draw();
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
  const bool started = session_.StartCacheCapture();
  Menus().Mnu_ShowDns->setEnabled(!started);
  if (started) DeleteTimer->start();
  Draw();
}

void VellomarForm::DeleteTimer_Timer() {
  const session::CapturePoll poll = session_.PollCapture();
  if (poll.state == session::CaptureState::kPending) return;
  DeleteTimer->stop();
  Menus().Mnu_ShowDns->setEnabled(true);
  if (poll.state == session::CaptureState::kFinished && !poll.report.empty()) {
    DisplayDnsText->setPlainText(ToQ(poll.report));
    SetBackColor(DisplayDnsText, ColourOf(view::ReportColour(poll)));
    const std::string capture = session_.CaptureFilePath();
    if (Menus().Mnu_OpenDnsNotepad->isChecked()) {
      if (platform::FileExists(capture)) session_.ShellOpen(capture);
    } else {
      DisplayDnsText->show();
      DisplayDnsText->raise();
    }
  }
  Draw();
}

void VellomarForm::DisplayDnsText_DblClick() {
  if (BackColor(DisplayDnsText) == kYellow && platform::FileExists(session_.CaptureFilePath())) {
    session_.ShellOpen(session_.CaptureFilePath());
  }
  DisplayDnsText->setPlainText(QString());
  DisplayDnsText->hide();
}

// ---- Helpers -------------------------------------------------------------------------------

QColor VellomarForm::BackColor(const QWidget* box) { return box->palette().color(QPalette::Base); }

void VellomarForm::SetBackColor(QWidget* box, const QColor& colour) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, colour);  // every state, the disabled one included
  box->setPalette(palette);
}

}  // namespace vellomar::app
