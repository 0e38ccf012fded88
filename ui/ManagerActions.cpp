#include "ui/ManagerActions.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

namespace vorn {

CManagerActions::CManagerActions(QWidget* window) : QObject(window) {
  const auto make = [this](const char* text) { return new QAction(QString::fromUtf8(text), this); };
  refresh = make("Refresh");
  openImage = make("&Open disk image...");
  add = make("Add routine...");
  remove = make("Remove last routine");
  format = make("Format disk");
  check = make("&Check disk...");
  exit = make("Exit");
  cancel = make("Cancel");
  backup = make("&Back up disk...");
  restore = make("Re&store disk...");
  exportRoutine = make("&Export routine...");
  preview = make("Preview...");
  writeOthers = make("&Write to other disks...");
  about = make("&About VORN3 Manager...");
  removeRoutines = make("Remove routine");
  moveUp = make("Move up");
  moveDown = make("Move down");
  replace = make("Replace routine...");
  rename = make("Rename...");
  settings = make("Routine settings...");
  removeRoutines->setShortcut(QKeySequence::Delete);
  moveUp->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
  moveDown->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
  rename->setShortcut(QKeySequence(Qt::Key_F2));
  cancel->setVisible(false);  // only while what runs can stop
  // There is no system menu to extend on Linux desktops: the about box is on
  // the window's context menu and on F1.
  about->setShortcut(QKeySequence::HelpContents);
  about->setShortcutContext(Qt::WindowShortcut);
  window->addAction(about);
}

void CManagerActions::Enable(bool busy, bool disk, bool cancellable, bool cancelled, GridSelection selection) {
  m_busy = busy;
  const bool one = !busy && disk && selection.rows == 1;
  removeRoutines->setEnabled(!busy && disk && selection.rows > 0);
  for (QAction* action : {replace, rename, settings}) action->setEnabled(one);
  moveUp->setEnabled(one && selection.first > 0);
  moveDown->setEnabled(one && selection.first + 1 < selection.count);
  for (QAction* action : {refresh, openImage, exit}) action->setEnabled(!busy);
  // "Format disk" too: a format under a running import would cut the table
  // from under the routine being written.
  for (QAction* action : {add, remove, format, backup, restore, check, writeOthers}) action->setEnabled(!busy && disk);
  exportRoutine->setEnabled(!busy && disk);
  preview->setEnabled(!busy && disk && selection.rows == 1);
  cancel->setVisible(cancellable);
  cancel->setEnabled(cancellable && !cancelled);
}

void CManagerActions::Bind(QPushButton* button, QAction* action) {
  QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
  const auto follow = [button, action] {
    button->setEnabled(action->isEnabled());
    // isHidden, not isVisible: the window itself may not be shown yet.
    if (button->isHidden() == action->isVisible()) button->setVisible(action->isVisible());
  };
  QObject::connect(action, &QAction::changed, button, follow);
  follow();
}

void CManagerActions::AttachEdits(QWidget* grid) const {
  // Delete in the disk combo or on a button must not remove a routine.
  for (QAction* action : {removeRoutines, moveUp, moveDown, replace, rename, settings}) {
    action->setShortcutContext(Qt::WidgetShortcut);
    grid->addAction(action);
  }
}

std::unique_ptr<QMenu> CManagerActions::WindowMenu(QWidget* parent) const {
  auto menu = std::make_unique<QMenu>(parent);
  menu->addAction(openImage);
  menu->addAction(backup);
  menu->addAction(restore);
  menu->addAction(check);
  menu->addAction(writeOthers);
  menu->addSeparator();
  menu->addAction(about);
  return menu;
}

std::unique_ptr<QMenu> CManagerActions::GridMenu(QWidget* parent, int row) const {
  auto menu = std::make_unique<QMenu>(parent);
  preview->setData(row);
  preview->setEnabled(row >= 0 && !m_busy);
  menu->addAction(preview);
  menu->addSeparator();
  for (QAction* action : {removeRoutines, moveUp, moveDown, replace, rename, settings}) menu->addAction(action);
  menu->addSeparator();
  exportRoutine->setData(row);
  exportRoutine->setEnabled(row >= 0 && !m_busy);
  menu->addAction(exportRoutine);
  menu->addSeparator();
  menu->addAction(backup);
  menu->addAction(restore);
  menu->addAction(check);
  menu->addAction(writeOthers);
  return menu;
}

}  // namespace vorn
