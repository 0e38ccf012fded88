#include "ui/QtStatusText.h"

#include "ui/UiThread.h"

namespace vorn {

void CQtStatusText::SetText(const std::string& text) {
  QLineEdit* field = m_field.data();
  if (!field) return;
  PostToUi(field, [field, value = QString::fromStdString(text)] {
    field->setText(value);
    field->setCursorPosition(0);
  });
}

}  // namespace vorn
