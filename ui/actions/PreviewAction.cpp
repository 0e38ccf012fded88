// "Preview...": the routine's picture in a window of its own (double-click a
// row, Enter on the grid, or the grid's context menu). The window reads the
// disk on its own thread, so the main window stays free meanwhile; it opens
// the disk as the actions do, read-only, afresh for each of its jobs.
#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

#include "device/DriveAccess.h"
#include "ui/DeviceSource.h"
#include "ui/PreviewWindow.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

// Sees Enter before the grid, which takes it so that it never reaches the
// dialog's default button. Not a shortcut: a shortcut follows the focus, and
// Enter meant for the combo or a button must keep its meaning there.
class CEnterFilter final : public QObject {
 public:
  CEnterFilter(QWidget* grid, QAction* preview) : QObject(grid), m_preview(preview) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_preview->isEnabled()) {
        m_preview->trigger();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QAction* m_preview;
};

}  // namespace

void OpenPreviewOnEnter(QWidget* grid, QAction* preview) { grid->installEventFilter(new CEnterFilter(grid, preview)); }

void OpenPreview(CActionHost& host, QWidget* parent, int row) {
  const RoutineEntry* entry = host.Routines().Entry(row);
  const DiskRecord disk = host.Selected();
  // While an action works on the disk, what a preview read could be half written.
  if (entry == nullptr || disk.kind == DiskKind::kNone || host.Runner().IsBusy()) return;
  CDeviceSource& source = host.Source();
  auto openDevice = [&source, disk]() -> std::unique_ptr<CSectorDevice> {
    std::unique_ptr<CSectorDevice> device;
    switch (disk.kind) {
      case DiskKind::kNone: break;
      case DiskKind::kDrive:
        device = source.NewDriveDevice();
        if (auto* drive = dynamic_cast<CDriveAccess*>(device.get())) drive->SetAccess(ImageAccess::kRead);
        break;
      case DiskKind::kUnit: device = source.NewUnitDevice(); break;
      case DiskKind::kImage: device = std::make_unique<CImageDevice>(std::string{}, true, ImageAccess::kRead); break;
    }
    if (!device) throw CVornError("No disk is selected");
    device->Open(disk.entry);
    return device;
  };
  auto* window = new CPreviewWindow(std::move(openDevice), *entry, disk.shown, parent);
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace vorn
