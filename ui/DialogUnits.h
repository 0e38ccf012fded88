#pragma once
// Dialog units: our .ui files place controls in pixels for the base units of an
// 8-point UI font (6 x 13 pixels per 4 x 8 dialog units). A dialog rescales that
// layout to the base units of the font it actually shows, so the proportions of
// text and controls hold on any desktop font.

#include <QSize>
#include <QWidget>

namespace vorn {

inline constexpr QSize kDesignBaseUnits{6, 13};
inline constexpr qreal kDialogFontPointSize = 8;

// Gives `dialog` the desktop's UI font family at kDialogFontPointSize, the font
// its layout is drawn for. Call it before the dialog's controls are made, so
// that they take the font from their parent.
void UseDialogFont(QWidget* dialog);

// The base units of a font: average width of the Latin letters, and line height.
QSize BaseUnitsOf(const QFont& font);

// A horizontal length in design pixels, scaled to the base units of `font`.
int ScaleWidth(int designPixels, const QFont& font);

// Moves and sizes the direct children of `dialog` and fixes the dialog's size,
// scaled from kDesignBaseUnits to the base units of the dialog's font.
void ScaleToDialogFont(QWidget* dialog);

}  // namespace vorn
