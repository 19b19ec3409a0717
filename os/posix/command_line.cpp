#include "os/command_line.h"

namespace quillfen::os {

std::vector<std::string> CommandLineArguments() {
  return {};
}

}  // namespace quillfen::os
