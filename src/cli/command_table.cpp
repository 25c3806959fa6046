#include "cli/agent_runner.h"

namespace tk::cli {

// One row per working command, in the documented table order. A command appears here only once
// its handler is complete.
std::span<const AgentCommand> agentCommands() {
  static const std::vector<AgentCommand> kCommands = {};
  return kCommands;
}

}  // namespace tk::cli
