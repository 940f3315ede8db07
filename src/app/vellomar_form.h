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

  // ---- Public methods ------------------------------------------------------------------
  void DoHostUpdate(const std::string& ThisFile);
  void GetHostVersion(int Index);
  void ClearMergeList();
  std::string GetFileInfo(const std::string& FileName);
  std::string GetFileInfo2(const std::string& FileName, bool IsCurrent);
  void WriteMergeFile();
  void TestAndRefresh();
  // The menu's install of the merged file as it is.
  void UpdateFromMerged();
  void DoFlush();
  void DoDnsDisplay();

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
  const Environment& env() const { return session_.env(); }
  const std::string& HostsFilePath() const { return session_.HostsFilePath(); }
  const std::string& MergedFilePath() const { return session_.MergedFilePath(); }
  const std::string& NotepadPath() const { return session_.NotepadPath(); }
  const std::string& IpconfigPath() const { return session_.IpconfigPath(); }
  const std::string& CurrentCreated() const { return session_.CurrentCreated(); }
  const std::string& CurrentUpdated() const { return session_.CurrentUpdated(); }
  const std::string& MergedCreated() const { return session_.MergedCreated(); }
  const std::string& MergedUpdated() const { return session_.MergedUpdated(); }
  // The folder the lists show; the merge reads its sources from here.
  const std::string& SourceFolder() const { return session_.SourceFolder(); }

  // The value of Use_127: 0 unticked, 1 ticked, 2 grayed.
  int Use127Value() const;
  void SetUse127Value(int value);
  int AutoFlushDnsValue() const;
  // Background colour of a text box.
  static QColor BackColor(const QWidget* box);
  static void SetBackColor(QWidget* box, const QColor& colour);
  // The system's background colour for text boxes.
  QColor WindowColour() const;

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
  QColor ColourOf(session::Colour colour) const;
  void DrawSummary(QLabel* summary, const QString& text);
  void WidenForSummaries();
  void CentreForm();

  session::Session session_;
  std::unique_ptr<VellomarMenus> menus_;
  std::size_t drawn_generation_ = static_cast<std::size_t>(-1);
};

// Text of the program's 8-bit strings in the window, and back.
QString ToQ(const std::string& text);
std::string FromQ(const QString& text);

}  // namespace vellomar::app
