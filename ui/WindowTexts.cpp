#include "ui/WindowTexts.h"

#include <QFileDialog>

#include <cstdio>

#include "disk/VornDisk.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

constexpr const char* kRoutineFilter = "VORN v3.0 (.vorn)|*.vorn|All Files (*.*)|*.*|";

std::string Megabytes(std::uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(sectors) * kSectorSize / 1048576.0);
  return text;
}

}  // namespace

QStringList NameFiltersFromPairs(const QString& pairs) {
  QStringList filters;
  const QStringList parts = pairs.split('|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString patterns = parts[i + 1].trimmed();
    if (description.isEmpty() && patterns.isEmpty()) break;
    QStringList qtPatterns;
    for (const QString& pattern : patterns.split(';', Qt::SkipEmptyParts)) {
      // "*.*" means every file to the dialogs this filter comes from; on Linux
      // many names have no dot.
      qtPatterns << (pattern.trimmed() == "*.*" ? QStringLiteral("*") : pattern.trimmed());
    }
    // Qt reads the patterns from the last parentheses; the description before
    // them is kept whole, so that a dialog hiding the details shows it as written.
    filters << description + " (" + qtPatterns.join(' ') + ")";
  }
  return filters;
}

std::unique_ptr<QFileDialog> NewRoutineFileDialog(QWidget* owner, const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setDefaultSuffix(QStringLiteral("vorn"));
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters(NameFiltersFromPairs(QString::fromLatin1(kRoutineFilter)));
  if (!folder.isEmpty()) dialog->setDirectory(folder);
  return dialog;
}

QString DiskSpaceText(bool formatted, std::size_t routines, std::uint64_t sectors,
                      std::uint64_t usedSectors) {
  std::string text;
  if (!formatted) {
    text = "Not formatted";
    if (sectors != 0) text += " - " + Megabytes(sectors);
    return QString::fromStdString(text);
  }
  text = Plural(routines, "routine");
  if (sectors != 0) {
    // A further routine needs room for itself and for the table that grows behind it.
    const std::uint64_t table = (routines + 1) / kRoutinesPerTableSector + 1;
    const std::uint64_t taken = usedSectors + table;
    text += " - " + Megabytes(sectors) + ", " + Megabytes(sectors > taken ? sectors - taken : 0) + " free";
  }
  return QString::fromStdString(text);
}

}  // namespace vorn
