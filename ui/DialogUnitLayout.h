#pragma once
// The window's controls where the dialog template puts them (in dialog units,
// scaled to the font), and how they follow when the window grows: the grid
// takes the room, the rows below keep to the bottom edge, the bottom buttons
// spread over the width. The window never shrinks below its design size.

#include <QLayout>
#include <QRect>
#include <QSize>

#include <vector>

namespace vorn {

class CDialogUnitLayout final : public QLayout {
 public:
  // How a control follows the window's growth (dx, dy).
  enum class Follow {
    kWidth,        // grows to the right
    kRight,        // moves right
    kBoth,         // grows both ways
    kBottomWidth,  // moves down and grows to the right
    kBottom,       // moves down
    kBottomRight,  // moves right and down
    kSpread,       // moves down, and right by its share of the row
  };

  // Takes the controls' present geometry as their design; install it after the
  // controls have been scaled to the font.
  explicit CDialogUnitLayout(QWidget* dialog);
  ~CDialogUnitLayout() override;

  void Place(QWidget* control, Follow follow, int share = 0, int shares = 1);
  // While `button` shows, `bar` ends before it, as far from it as the bar's
  // row starts from the control before it (`before`).
  void EndBefore(QWidget* bar, QWidget* button, QWidget* before);

  void addItem(QLayoutItem* item) override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  int count() const override { return static_cast<int>(m_places.size()); }
  QSize sizeHint() const override { return m_design; }
  QSize minimumSize() const override { return m_design; }
  void setGeometry(const QRect& rect) override;

 private:
  struct Placement {
    QLayoutItem* item = nullptr;
    QRect design;
    Follow follow = Follow::kBottom;
    int share = 0;
    int shares = 1;
  };
  QRect DesignOf(const QWidget* control) const;

  QSize m_design;
  std::vector<Placement> m_places;
  QWidget* m_bar = nullptr;
  QWidget* m_barButton = nullptr;
  QWidget* m_barBefore = nullptr;
};

}  // namespace vorn
