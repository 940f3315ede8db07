#pragma once
// Small control subclasses that give the window the events it handles: label clicks, a
// mouse-down with button and modifier masks, a list whose click toggles a tick, and a report
// box that reports double clicks and dropped files.

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStringList>

namespace vellomar::app {

// Mouse button and modifier masks as the window's handlers take them.
inline constexpr int kLeftButton = 1;
inline constexpr int kRightButton = 2;
inline constexpr int kMiddleButton = 4;
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

int ButtonMask(Qt::MouseButton button);
int ShiftMask(Qt::KeyboardModifiers modifiers);

class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void clicked();
  void doubleClicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A check box that reports every mouse press before reacting to it. With `SetClickCycle(false)`
// a click never gives the third, grayed state.
class MouseCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  using QCheckBox::QCheckBox;

 signals:
  void mouseDown(int button, int shift);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void nextCheckState() override;
};

// A list with a tick box per entry; a click anywhere on an entry, or the space bar on the
// current entry, toggles its tick. Every change of a tick is reported through itemChanged.
class CheckList : public QListWidget {
  Q_OBJECT
 public:
  using QListWidget::QListWidget;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

// The read-only DNS report box.
class ReportBox : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit ReportBox(QWidget* parent = nullptr);

 signals:
  void doubleClicked();
  void filesDropped(const QStringList& paths);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

// Local paths of the files a drop carries, in order.
QStringList DroppedFiles(const QMimeData* data);

}  // namespace vellomar::app
