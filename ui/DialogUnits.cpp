#include "ui/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

#include <cmath>

namespace vorn {
namespace {

int Scale(int value, int actual, int design) {
  return static_cast<int>(std::lround(static_cast<double>(value) * actual / design));
}

}  // namespace

QSize BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return QSize((letters / 26 + 1) / 2, metrics.height());
}

void UseDialogFont(QWidget* dialog) {
  QFont font = QApplication::font(dialog);
  font.setPointSizeF(kDialogFontPointSize);
  dialog->setFont(font);
}

int ScaleWidth(int designPixels, const QFont& font) {
  return Scale(designPixels, BaseUnitsOf(font).width(), kDesignBaseUnits.width());
}

void ScaleToDialogFont(QWidget* dialog) {
  const QSize units = BaseUnitsOf(dialog->font());
  const QSize design = kDesignBaseUnits;
  for (QObject* child : dialog->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget || widget->isWindow()) continue;
    const QRect r = widget->geometry();
    widget->setGeometry(Scale(r.x(), units.width(), design.width()),
                        Scale(r.y(), units.height(), design.height()),
                        Scale(r.width(), units.width(), design.width()),
                        Scale(r.height(), units.height(), design.height()));
  }
  dialog->setFixedSize(Scale(dialog->width(), units.width(), design.width()),
                       Scale(dialog->height(), units.height(), design.height()));
}

}  // namespace vorn
