#include "tools/Commands.h"

#include <algorithm>
#include <string>

namespace vorn {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = [] {
    std::vector<Command> list = {
      CreateImageCommand(),
      ListCommand(),
      CheckCommand(),
#ifdef VORN_HAVE_PLOT
      PlotCommand(),
#endif
      FormatCommand(),
      RemoveLastCommand(),
      DevicesCommand(),
      IdentifyCommand(),
      UnitsCommand(),
      LiveCommand(),
      AddCommand(),
      MakeRoutineCommand(),
      ExportCommand(),
      BackupCommand(),
      RestoreCommand(),
      ShowSetCommand(),
      SyncCommand(),
      WineSetupCommand(),
    };
    // The edits of any routine follow remove-last.
    const std::vector<Command> edits = EditCommands();
    auto removeLast = std::find_if(list.begin(), list.end(),
                                   [](const Command& command) { return std::string(command.name) == "remove-last"; });
    list.insert(removeLast + 1, edits.begin(), edits.end());
    return list;
  }();
  return commands;
}

}  // namespace vorn
