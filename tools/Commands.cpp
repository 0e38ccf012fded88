#include "tools/Commands.h"

namespace vorn {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = [] {
    std::vector<Command> list = {
      CreateImageCommand(),
      ListCommand(),
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
      WineSetupCommand(),
    };
    // The edits of any routine follow remove-last.
    const std::vector<Command> edits = EditCommands();
    list.insert(list.begin() + 4, edits.begin(), edits.end());
    return list;
  }();
  return commands;
}

}  // namespace vorn
