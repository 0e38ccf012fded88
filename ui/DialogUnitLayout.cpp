#include "ui/DialogUnitLayout.h"

#include <QWidget>

#include <algorithm>

namespace vorn {

CDialogUnitLayout::CDialogUnitLayout(QWidget* dialog) : m_design(dialog->size()) {
  setContentsMargins(0, 0, 0, 0);
  dialog->setLayout(this);
}

CDialogUnitLayout::~CDialogUnitLayout() {
  for (Placement& place : m_places) delete place.item;
}

void CDialogUnitLayout::Place(QWidget* control, Follow follow, int share, int shares) {
  const QRect design = control->geometry();
  addChildWidget(control);
  m_places.push_back(Placement{new QWidgetItem(control), design, follow, share, shares});
  invalidate();
}

void CDialogUnitLayout::EndBefore(QWidget* bar, QWidget* button, QWidget* before) {
  m_bar = bar;
  m_barButton = button;
  m_barBefore = before;
}

void CDialogUnitLayout::addItem(QLayoutItem* item) {
  m_places.push_back(Placement{item, item->geometry(), Follow::kBottom, 0, 1});
}

QLayoutItem* CDialogUnitLayout::itemAt(int index) const {
  return index >= 0 && index < count() ? m_places[static_cast<std::size_t>(index)].item : nullptr;
}

QLayoutItem* CDialogUnitLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = m_places[static_cast<std::size_t>(index)].item;
  m_places.erase(m_places.begin() + index);
  return item;
}

QRect CDialogUnitLayout::DesignOf(const QWidget* control) const {
  for (const Placement& place : m_places) {
    if (place.item->widget() == control) return place.design;
  }
  return {};
}

void CDialogUnitLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  const QWidget* dialog = parentWidget();
  if (!dialog) return;
  const int dx = std::max(0, dialog->width() - m_design.width());
  const int dy = std::max(0, dialog->height() - m_design.height());
  for (const Placement& place : m_places) {
    QRect r = place.design;
    switch (place.follow) {
      case Follow::kWidth: r.setWidth(r.width() + dx); break;
      case Follow::kRight: r.translate(dx, 0); break;
      case Follow::kBoth: r.setSize(r.size() + QSize(dx, dy)); break;
      case Follow::kBottomWidth:
        r.translate(0, dy);
        r.setWidth(r.width() + dx);
        break;
      case Follow::kBottom: r.translate(0, dy); break;
      case Follow::kBottomRight: r.translate(dx, dy); break;
      case Follow::kSpread: r.translate(dx * place.share / std::max(1, place.shares), dy); break;
    }
    QWidget* control = place.item->widget();
    if (control && control == m_bar && m_barButton && !m_barButton->isHidden()) {
      const QRect button = DesignOf(m_barButton);
      const QRect before = DesignOf(m_barBefore);
      r.setRight(button.left() + dx - (place.design.left() - before.right()));
    }
    if (control) control->setGeometry(r);
  }
}

}  // namespace vorn
