#include "process/process_launch.h"

#include "common/strings.h"
#include "log/log.h"

namespace varnok {

bool ValidateCommandLine(const std::string& command_line, const std::string& executable) {
  if (!Trim(executable).empty()) return true;
  const std::string trimmed = Trim(command_line);
  if (trimmed.empty()) {
    LogError("operation : ValidateCommandLine; status : failure; remarks : \"Commandline cannot be "
             "empty\";");
    return false;
  }
  if (trimmed[0] != '"' && trimmed[0] != '\'') {
    LogError("operation : ValidateCommandLine; status : failure; remarks : \"Commandline must start "
             "with a quote (\" or ')\";");
    return false;
  }
  return true;
}

}  // namespace varnok
