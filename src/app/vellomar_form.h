#pragma once
// The main window: the controls, the run state, and the handlers of every control.

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "app/controls.h"
#include "app/environment.h"
#include "merge/address_mode.h"
#include "support/log.h"

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

  // ---- Public methods ------------------------------------------------------------------
  void DoHostUpdate(const std::string& ThisFile);
  void GetHostVersion(int Index);
  void ClearMergeList();
  std::string GetFileInfo(const std::string& FileName);
  std::string GetFileInfo2(const std::string& FileName, bool IsCurrent);
  void WriteMergeFile();
  void TestAndRefresh();
  void DoFlush();
  void DoDnsDisplay();

  // ---- Handlers ------------------------------------------------------------------------
  void Form_Resize();
  void Form_MouseDown(int Button, int Shift);
  void Form_Unload();
  void Form_OLEDragDrop(const QStringList& files);
  void MergeList_Click();
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
  bool MenusLoaded() const { return menus_ != nullptr; }

  // ---- Run state -----------------------------------------------------------------------
  const std::string& HostsFilePath() const { return hosts_file_path_; }
  const std::string& MergedFilePath() const { return merged_file_path_; }
  const std::string& NotepadPath() const { return notepad_path_; }
  const std::string& IpconfigPath() const { return ipconfig_path_; }
  const std::string& CurrentCreated() const { return current_created_; }
  const std::string& CurrentUpdated() const { return current_updated_; }
  const std::string& MergedCreated() const { return merged_created_; }
  const std::string& MergedUpdated() const { return merged_updated_; }
  // The folder FileList shows; the merge reads its sources from here.
  const std::string& SourceFolder() const { return file_list_folder_; }
  const Environment& env() const { return env_; }

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
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void SetInformation(const std::string& text);
  void SetInformation(const std::string& text, const QColor& colour);
  void SelectEntry(int index, bool selected);
  int SelectedCount() const;
  void OpenInEditor(const std::string& path);
  std::string ProgramFile(const std::string& name) const;
  std::string CaptureFilePath() const;
  std::string CaptureScriptPath() const;
  void CentreForm();

  Environment env_;
  support::LogTarget log_;
  std::unique_ptr<VellomarMenus> menus_;

  std::string hosts_file_path_;
  std::string merged_file_path_;
  std::string notepad_path_;
  std::string ipconfig_path_;
  std::string current_created_;
  std::string current_updated_;
  std::string merged_created_;
  std::string merged_updated_;
  std::string file_list_folder_;

  bool selecting_from_hosts_ = false;  // the header reader is ticking an entry
  bool merge_click_busy_ = false;      // a merge started by MergeList_Click is running
  bool merge_running_ = false;         // WriteMergeFile is running
};

// Text of the program's 8-bit strings in the window, and back.
QString ToQ(const std::string& text);
std::string FromQ(const QString& text);

}  // namespace vellomar::app
