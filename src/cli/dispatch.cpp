#include "cli/dispatch.h"

#include "cli/agent_runner.h"
#include "cli/console.h"
#include "cli/usage.h"
#include "conformance/basic_vectors.h"
#include "conformance/dump_mlg.h"

namespace tk::cli {
namespace {

// A conformance route runs when the first argument and the argument count (program path
// included) match. No name appears with overlapping counts, so the routes can be tried in any
// order; a known name with another count falls through to the agent-command runner.
struct Route {
  const char* name;
  qsizetype minCount;
  qsizetype maxCount;
  int (*run)(const QStringList& arguments);
};

int runDumpCrc32(const QStringList& a) { return conformance::dumpCrc32(a.at(2)); }
int runDumpJsonFmt(const QStringList& a) { return conformance::dumpJsonFmt(a.at(2)); }
int runDumpMlg(const QStringList& a) { return conformance::dumpMlg(a.at(2), a.at(3)); }

const Route kRoutes[] = {
    {"dump-crc32", 3, 3, runDumpCrc32},
    {"dump-jsonfmt", 3, 3, runDumpJsonFmt},
    {"dump-mlg", 4, 4, runDumpMlg},
};

}  // namespace

int dispatch(const QStringList& arguments) {
  if (arguments.size() >= 2) {
    const QString& first = arguments.at(1);
    for (const Route& route : kRoutes) {
      if (first == QLatin1String(route.name) && arguments.size() >= route.minCount &&
          arguments.size() <= route.maxCount) {
        return route.run(arguments);
      }
    }
  }
  if (const std::optional<int> code = runAgentCommand(arguments)) {
    return *code;
  }
  printUsage();
  return 1;
}

}  // namespace tk::cli
