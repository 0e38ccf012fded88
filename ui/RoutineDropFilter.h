#pragma once
// Routine files dropped on the grid go the way of "Add routine...": the local
// ".vorn" files among the dropped data, in their order, once the drop has
// ended. A drop is taken only when the window could add them now. A row of the
// grid dragged within it is a move to the row it is dropped on (below the last
// row: to the end).

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;

namespace vorn {

// The local ".vorn" files among dropped data, in their order.
QStringList DroppedRoutineFiles(const QMimeData* data);

class CRoutineDropFilter final : public QObject {
 public:
  // `target` is the grid's viewport; `move(from, to)` moves a dragged row.
  CRoutineDropFilter(QWidget* target, std::function<bool()> canAdd, std::function<void(const QStringList&)> add,
                     std::function<void(int, int)> move = {});

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<bool()> m_canAdd;
  std::function<void(const QStringList&)> m_add;
  std::function<void(int, int)> m_move;
};

}  // namespace vorn
