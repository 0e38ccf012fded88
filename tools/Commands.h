#pragma once
// The descriptions of the vorn3ctl commands, one per source file. Add a new
// command here and to the table in Commands.cpp.

#include "tools/Command.h"

namespace vorn {

Command CreateImageCommand();
Command ListCommand();
Command CheckCommand();
Command PlotCommand();  // only where VORN_HAVE_PLOT
Command FormatCommand();
Command RemoveLastCommand();
Command DevicesCommand();
Command IdentifyCommand();
Command UnitsCommand();
Command LiveCommand();
Command AddCommand();
Command MakeRoutineCommand();
Command ExportCommand();
Command BackupCommand();
Command RestoreCommand();
Command WineSetupCommand();
Command SyncCommand();
Command ShowSetCommand();
// remove, move, replace, insert, retitle, set, recover (EditCommands.cpp).
std::vector<Command> EditCommands();

}  // namespace vorn
