#pragma once
// What the show editor's side and the server's side of a live link agree on:
// the names of the named objects one unit's link uses, and the rules a block
// of control data must pass. The server, vorn3ctl's live command and the relay
// bench all take them from here, so neither side can drift from the other.

#include <string>

#include "server/BlockRules.h"

namespace vorn {

// The named objects of the live link to the unit called `unit` (upper case,
// as the editor names it): the block, and the four events around it.
struct LiveObjectNames {
  std::string sharedMem;
  std::string ready;
  std::string quit;
  std::string dataReady;
  std::string dataDone;
};

inline LiveObjectNames LiveObjectNamesFor(const std::string& unit) {
  LiveObjectNames names;
  names.sharedMem = unit + "_SHAREDMEM";
  names.ready = unit + "_READYEVENT";
  names.quit = unit + "_QUITEVENT";
  names.dataReady = unit + "_DATAREADYEVENT";
  names.dataDone = unit + "_DATADONEEVENT";
  return names;
}

}  // namespace vorn
