#include "app/controls.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace vellomar::app {

int ButtonMask(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return kLeftButton;
    case Qt::RightButton:
      return kRightButton;
    case Qt::MiddleButton:
      return kMiddleButton;
    default:
      return 0;
  }
}

int ShiftMask(Qt::KeyboardModifiers modifiers) {
  return (modifiers.testFlag(Qt::ShiftModifier) ? kShiftMask : 0) |
         (modifiers.testFlag(Qt::ControlModifier) ? kCtrlMask : 0) |
         (modifiers.testFlag(Qt::AltModifier) ? kAltMask : 0);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked();
  QLabel::mouseDoubleClickEvent(event);
}

void MouseCheckBox::mousePressEvent(QMouseEvent* event) {
  emit mouseDown(ButtonMask(event->button()), ShiftMask(event->modifiers()));
  if (event->button() == Qt::LeftButton) {
    QCheckBox::mousePressEvent(event);
  } else {
    event->accept();  // other buttons stay with the box and never reach the window
  }
}

void MouseCheckBox::nextCheckState() {
  // A click toggles between unticked and ticked; the grayed state comes only from the program.
  setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void CheckList::mousePressEvent(QMouseEvent* event) {
  QListWidgetItem* entry = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && entry != nullptr) {
    setCurrentItem(entry);
    entry->setCheckState(entry->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    event->accept();
    return;
  }
  QListWidget::mousePressEvent(event);
}

void CheckList::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click toggles again, as a second click would.
  mousePressEvent(event);
}

void CheckList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && currentItem() != nullptr) {
    QListWidgetItem* entry = currentItem();
    entry->setCheckState(entry->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

ReportBox::ReportBox(QWidget* parent) : QPlainTextEdit(parent) { setAcceptDrops(true); }

void ReportBox::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    emit doubleClicked();
    event->accept();
    return;
  }
  QPlainTextEdit::mouseDoubleClickEvent(event);
}

void ReportBox::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void ReportBox::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void ReportBox::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  emit filesDropped(DroppedFiles(event->mimeData()));
}

QStringList DroppedFiles(const QMimeData* data) {
  QStringList paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  return paths;
}

}  // namespace vellomar::app
