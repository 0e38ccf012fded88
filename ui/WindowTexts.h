#pragma once
// The window's file dialog for routine files and the line that tells a disk's
// size and free space.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

class QFileDialog;
class QWidget;

namespace vorn {

// "VORN v3.0 (.vorn)|*.vorn|All Files (*.*)|*.*|" as Qt name filters:
// "VORN v3.0 (.vorn) (*.vorn)", "All Files (*.*) (*)".
QStringList NameFiltersFromPairs(const QString& pairs);

// The open dialog of "Add routine...": several existing files, default suffix
// "vorn", the two filters shown by their descriptions only; it opens in
// `folder` when one is given.
std::unique_ptr<QFileDialog> NewRoutineFileDialog(QWidget* owner, const QString& folder = {});

// "64.00 MB, 12.50 MB free" and the like: what the line below the grid says
// about a disk of `sectors` sectors (0: size unknown) whose routines end at
// `usedSectors`, or that is not formatted.
QString DiskSpaceText(bool formatted, std::size_t routines, std::uint64_t sectors,
                      std::uint64_t usedSectors);

}  // namespace vorn
