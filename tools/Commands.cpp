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
  };
  return commands;
}

}  // namespace vorn
