#include "ui/EditDialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QSpinBox>

#include "device/BaudRate.h"

namespace vorn {

std::optional<std::string> AskRoutineTitle(QWidget* parent, const RoutineEntry& entry) {
  bool ok = false;
  const QString current = QString::fromStdString(entry.DisplayTitle());
  const QString title = QInputDialog::getText(parent, QStringLiteral("Rename routine"),
                                              QStringLiteral("Title (at most 16 characters):"), QLineEdit::Normal,
                                              current, &ok);
  if (!ok || title == current) return std::nullopt;
  return title.toStdString();
}

std::optional<RoutineSettingsChange> AskRoutineSettings(QWidget* parent, const RoutineEntry& entry) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("Routine settings"));
  auto* form = new QFormLayout(&dialog);
  auto* frame = new QSpinBox(&dialog);
  frame->setRange(0, 255);
  frame->setValue(entry.frameRate);
  frame->setAccessibleName(QStringLiteral("Frame period (ms)"));
  auto* baud = new QComboBox(&dialog);
  for (int rate : kBaudRates) {
    baud->addItem(rate == kDmxBaudRate ? QStringLiteral("%1 (DMX)").arg(rate) : QString::number(rate), rate);
  }
  // A code outside the table shows no rate; it stays unless one is picked.
  baud->setCurrentIndex(entry.baudCode < kBaudRates.size() ? entry.baudCode : -1);
  baud->setAccessibleName(QStringLiteral("Baud rate (bps)"));
  auto* protocol = new QSpinBox(&dialog);
  protocol->setRange(0, 255);
  protocol->setValue(entry.controllerSettings[0]);
  protocol->setAccessibleName(QStringLiteral("Protocol code"));
  form->addRow(QStringLiteral("&Frame period (ms):"), frame);
  form->addRow(QStringLiteral("&Baud rate (bps):"), baud);
  form->addRow(QStringLiteral("&Protocol code:"), protocol);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;

  RoutineSettingsChange change;
  if (frame->value() != entry.frameRate) change.frameRate = static_cast<std::uint8_t>(frame->value());
  if (baud->currentIndex() >= 0 && baud->currentIndex() != entry.baudCode) {
    change.baudCode = static_cast<std::uint8_t>(baud->currentIndex());
  }
  if (protocol->value() != entry.controllerSettings[0]) change.protocol = static_cast<std::uint8_t>(protocol->value());
  if (!change.frameRate && !change.baudCode && !change.protocol) return std::nullopt;
  return change;
}

}  // namespace vorn
