#pragma once
// The cards this computer has already met when formatting: a card met for the
// first time is offered the capacity probe, since that is when a fake one
// would swallow a show. Kept beside the edit records, one disk identity
// (DiskIdentity, the edit records' key) per line in
// $XDG_STATE_HOME/vorn3manager/cards-seen.

#include <string>

#include "disk/EditRecord.h"

namespace vorn {

bool CardSeen(const std::string& identity, const std::string& root = CEditRecord::DefaultRoot());
// Best effort: a card that cannot be remembered is only asked about again.
void RememberCard(const std::string& identity, const std::string& root = CEditRecord::DefaultRoot());

}  // namespace vorn
