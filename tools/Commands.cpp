#include "tools/Commands.h"

namespace vorn {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
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
  return commands;
}

}  // namespace vorn
