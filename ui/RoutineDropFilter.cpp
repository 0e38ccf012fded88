#include "ui/RoutineDropFilter.h"

#include <QAbstractItemView>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QWidget>

namespace vorn {
namespace {

bool IsRoutineFile(const QString& path) {
  return path.endsWith(QStringLiteral(".vorn"), Qt::CaseInsensitive) && QFileInfo(path).isFile();
}

}  // namespace

QStringList DroppedRoutineFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && IsRoutineFile(url.toLocalFile())) files << url.toLocalFile();
  }
  return files;
}

CRoutineDropFilter::CRoutineDropFilter(QWidget* target, std::function<bool()> canAdd,
                                       std::function<void(const QStringList&)> add, std::function<void(int, int)> move)
    : QObject(target), m_canAdd(std::move(canAdd)), m_add(std::move(add)), m_move(std::move(move)) {
  target->setAcceptDrops(true);
  target->installEventFilter(this);
  if (auto* view = qobject_cast<QAbstractItemView*>(target->parentWidget()); view && m_move) view->setDragEnabled(true);
}

bool CRoutineDropFilter::eventFilter(QObject* watched, QEvent* event) {
  const bool dragging = event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
                    event->type() == QEvent::Drop;
  auto* view = qobject_cast<QAbstractItemView*>(static_cast<QWidget*>(parent())->parentWidget());
  if (dragging && view && m_move && static_cast<QDropEvent*>(event)->source() == view) {
    // A row of the grid itself. Taken as a copy: a move would let the view
    // delete the dragged row from the grid; the disk decides the new order.
    auto* drop = static_cast<QDropEvent*>(event);
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    if (rows.size() != 1 || !m_canAdd()) {
      drop->ignore();
      return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
      const int from = rows.front().row();
      const QModelIndex at = view->indexAt(drop->position().toPoint());
      const int to = at.isValid() ? at.row() : view->model()->rowCount() - 1;
      if (to != from) QMetaObject::invokeMethod(this, [this, from, to] { m_move(from, to); }, Qt::QueuedConnection);
    }
    return true;
  }
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (m_canAdd() && !DroppedRoutineFiles(drag->mimeData()).isEmpty()) {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
      } else {
        drag->ignore();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QStringList files = DroppedRoutineFiles(drop->mimeData());
      if (files.isEmpty() || !m_canAdd()) {
        drop->ignore();
        return true;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      // After the drop has ended: the source waits for its answer.
      QMetaObject::invokeMethod(this, [this, files] { m_add(files); }, Qt::QueuedConnection);
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

}  // namespace vorn
