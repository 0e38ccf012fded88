#include "ui/RoutineDropFilter.h"

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
                                       std::function<void(const QStringList&)> add)
    : QObject(target), m_canAdd(std::move(canAdd)), m_add(std::move(add)) {
  target->setAcceptDrops(true);
  target->installEventFilter(this);
}

bool CRoutineDropFilter::eventFilter(QObject* watched, QEvent* event) {
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
