#pragma once
// The main window: the controls and their handlers. The rules and state of the run live in the
// session; the window hands it every event and draws what comes back.

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "app/controls.h"
#include "app/environment.h"
#include "merge/address_mode.h"
#include "session/session.h"
#include "view/status_text.h"
#include "view/window.h"

namespace vellomar::app {

class VellomarMenus;

// Colours of the status line and the version boxes.
inline const QColor kYellow{255, 255, 0};
inline const QColor kRed{255, 0, 0};
inline const QColor kGreen{0, 255, 0};

class VellomarForm : public QWidget {
  Q_OBJECT
 public:
  explicit VellomarForm(Environment env, QWidget* parent = nullptr);
  ~VellomarForm() override;

  // Start-up: probes the system paths, names the window, fills the lists, shows the versions,
  // sets the address mode, builds a first merged file and reports the administrator state.
  void Form_Load();

  // Adds a note to the end of the status line, keeping its colour.
  void AddNotice(const std::string& text);

  // ---- Public methods, as the command menu calls them -------------------------------------
  void GetHostVersion(int Index);
  // The menu's install of the merged file as it is.
  void UpdateFromMerged();
  // The menu's update of the sources from the web, its progress in the status line.
  void UpdateSourcesFromWeb();
  // Asks for a name and shows in the status line which sources and whether the hosts file map
  // it; a cancelled or empty answer does nothing.
  void FindName();
  // The menu's duplicate-names option: the merge follows it, rebuilding the merged file.
  void SetDedupe(bool dedupe);
  void DoFlush();
  void DoDnsDisplay();
  // After an install that the hosts file's entries of the user's own held back: asks, and
  // installs the merged file when the user says yes.
  void AskToDropOwnEntries(bool auto_flush);

  // ---- Handlers ------------------------------------------------------------------------
  void Form_Resize();
  void Form_MouseDown(int Button, int Shift);
  void Form_Unload();
  void Form_OLEDragDrop(const QStringList& files);
  void MergeList_Click();
  void MergeList_ItemChanged(QListWidgetItem* item);
  void FileList_Click();
  void FileList_DblClick();
  void RefreshListButton_Click();
  void CurrentHostsFileInfo_Click();
  void CurrentVersionText_DblClick();
  void MergedHostsFileInfo_Click();
  void Label1_DblClick();
  void Label2_DblClick();
  void CreateMergedHosts_Click();
  void Use_127_Click();
  void Use_127_MouseDown(int Button, int Shift);
  void AutoFlushDns_MouseDown(int Button, int Shift);
  void DeleteTimer_Timer();
  void DisplayDnsText_DblClick();
  void DisplayDnsText_OLEDragDrop(const QStringList& files);

  // The command menu window, created and loaded on first touch.
  VellomarMenus& Menus();

  // ---- Run state -----------------------------------------------------------------------
  session::Session& session() { return session_; }

  // The value of Use_127: 0 unticked, 1 ticked, 2 grayed.
  int Use127Value() const;
  int AutoFlushDnsValue() const;
  // Background colour of a text box.
  static QColor BackColor(const QWidget* box);
  static void SetBackColor(QWidget* box, const QColor& colour);
  // The colour of a role; the window's role is the system's background colour for text boxes.
  static QColor ColourOf(view::ColourRole role);

  // ---- Controls ------------------------------------------------------------------------
  QPlainTextEdit* CurrentVersionText;
  CheckList* MergeList;
  QListWidget* FileList;
  QPushButton* CreateMergedHosts;
  QPushButton* RefreshListButton;
  QPlainTextEdit* MergedVersionText;
  QLineEdit* InformationText;
  ClickLabel* Label1;
  ClickLabel* Label2;
  ClickLabel* CurrentHostsFileInfo;
  ClickLabel* MergedHostsFileInfo;
  MouseCheckBox* AutoFlushDns;
  ReportBox* DisplayDnsText;
  MouseCheckBox* Use_127;
  QTimer* DeleteTimer;

 signals:
  // The caption of CreateMergedHosts after each merged entry and at the end of a merge.
  void MergeProgress(const QString& caption);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  // Brings every control in line with the session's state.
  void Draw();
  void DrawStatus(const view::WindowContent& content);
  void DrawSummary(QLabel* summary, const QString& text);
  void WidenForSummaries();
  void CentreForm();

  session::Session session_;
  bool fetching_ = false;  // progress posted by a fetch is drawn only while it runs
  std::unique_ptr<VellomarMenus> menus_;
  std::size_t drawn_generation_ = static_cast<std::size_t>(-1);
};

// Text of the program's 8-bit strings in the window, and back.
QString ToQ(const std::string& text);
std::string FromQ(const QString& text);

}  // namespace vellomar::app
