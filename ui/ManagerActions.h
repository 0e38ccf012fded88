#pragma once
// The window's commands as QActions, shared by the buttons, the window's and
// the grid's context menus and the keyboard, so that each is enabled by one
// rule in one place.

#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QPushButton;
class QWidget;

namespace vorn {

// The grid's selection, as the edits see it.
struct GridSelection {
  int rows = 0;    // how many are selected
  int first = -1;  // the first selected row
  int count = 0;   // routines in the grid
};

class CManagerActions final : public QObject {
 public:
  explicit CManagerActions(QWidget* window);

  QAction* refresh;
  QAction* openImage;
  QAction* add;
  QAction* remove;
  QAction* format;
  QAction* check;
  QAction* exit;
  QAction* cancel;
  QAction* backup;
  QAction* restore;
  QAction* exportRoutine;  // its data: the grid row it exports
  QAction* preview;        // its data: the grid row from the context menu (else the selected one)
  QAction* writeOthers;    // the selected disk's show onto other disks
  QAction* about;
  // Edits of the routines selected in the grid; their shortcuts act in the grid.
  QAction* removeRoutines;
  QAction* moveUp;
  QAction* moveDown;
  QAction* replace;
  QAction* rename;
  QAction* settings;

  // Enables the actions: nothing starts while `busy`; an action on a disk
  // needs one (without, it would ask and then do nothing); Cancel while what
  // runs can stop and has not been told to. An edit needs its rows: one for
  // all but remove, which takes several.
  void Enable(bool busy, bool disk, bool cancellable, bool cancelled, GridSelection selection = {});
  // Gives the edits' shortcuts to the grid, where they act.
  void AttachEdits(QWidget* grid) const;

  // The button runs the action when clicked and is enabled with it.
  static void Bind(QPushButton* button, QAction* action);

  // The window's menu: open image, backup, restore, write to other disks, about.
  std::unique_ptr<QMenu> WindowMenu(QWidget* parent) const;
  // The grid's menu: the edits, export of `row` (none: -1), backup, restore,
  // write to other disks.
  std::unique_ptr<QMenu> GridMenu(QWidget* parent, int row) const;

 private:
  bool m_busy = false;
};

}  // namespace vorn
