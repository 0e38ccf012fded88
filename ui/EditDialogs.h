#pragma once
// The small dialogs of the routine edits: a new title, and the settings a
// routine plays with. The disk's rules (code page, length) are checked by the
// edit itself, which names what it refuses.

#include <optional>
#include <string>

#include "disk/RoutineEdit.h"
#include "disk/RoutineEntry.h"

class QWidget;

namespace vorn {

// The new title in UTF-8; nothing when cancelled.
std::optional<std::string> AskRoutineTitle(QWidget* parent, const RoutineEntry& entry);
// The settings that differ from the entry's; nothing when cancelled or unchanged.
std::optional<RoutineSettingsChange> AskRoutineSettings(QWidget* parent, const RoutineEntry& entry);

}  // namespace vorn
