#include "cli/dispatch.h"

#include <cstdio>
#include <limits>
#include <optional>

#include "cli/agent_runner.h"
#include "cli/console.h"
#include "cli/usage.h"
#include "conformance/basic_vectors.h"
#include "conformance/dump_dashboard.h"
#include "conformance/dump_ecucmd.h"
#include "conformance/dump_expr.h"
#include "conformance/dump_ini.h"
#include "conformance/dump_mlg.h"
#include "conformance/dump_msq.h"
#include "conformance/dump_project.h"
#include "conformance/dump_tune_images.h"
#include "conformance/dump_tunecomms.h"

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
int runDumpDashboard(const QStringList& a) { return conformance::dumpDashboard(a.at(2)); }
int runDumpMlg(const QStringList& a) { return conformance::dumpMlg(a.at(2), a.at(3)); }
int runDumpEcuCmd(const QStringList& a) { return conformance::dumpEcuCmd(a.at(2)); }
int runDumpTuneComms(const QStringList& a) { return conformance::dumpTuneComms(a.at(2)); }
int runDumpMsq(const QStringList& a) { return conformance::dumpMsq(a.at(2), a.at(3)); }
int runDumpTuneFields(const QStringList& a) {
  return conformance::dumpTuneFields(a.at(2), a.at(3), a.at(4));
}
int runDumpMsqExport(const QStringList& a) {
  return conformance::dumpMsqExport(a.at(2), a.at(3), a.at(4));
}
int runDumpTuneDiff(const QStringList& a) {
  return conformance::dumpTuneDiff(a.at(2), a.at(3), a.at(4), a.at(5));
}
int runDumpExpr(const QStringList& a) { return conformance::dumpExpr(a.at(2), a.at(3), a.at(4)); }
int runDumpProject(const QStringList& a) { return conformance::dumpProject(a.at(2), a.at(3)); }
int runDumpProjectLegacy(const QStringList& a) {
  return conformance::dumpProjectLegacy(a.at(2), a.at(3), a.at(4));
}

// dump-ini <file.ini> <out.json> [--sections <preset>]; "--sections" may stand anywhere.
int runDumpIni(const QStringList& a) {
  QStringList positional;
  std::optional<QString> preset;
  for (qsizetype i = 2; i < a.size(); ++i) {
    if (a.at(i) == QLatin1String("--sections")) {
      if (i + 1 >= a.size()) {
        std::fputs("ERROR: --sections needs a preset name\n", stderr);
        return 1;
      }
      preset = a.at(++i);
    } else {
      positional.append(a.at(i));
    }
  }
  if (positional.size() != 2) {
    printUsage();
    return 1;
  }
  if (preset && !conformance::isKnownIniPreset(*preset)) {
    std::fprintf(stderr, "ERROR: unknown --sections preset '%s' (known: constants, ui-defs)\n",
                 preset->toUtf8().constData());
    return 1;
  }
  return conformance::dumpIni(positional.at(0), positional.at(1), preset.value_or(QString()));
}

const Route kRoutes[] = {
    {"dump-crc32", 3, 3, runDumpCrc32},
    {"dump-jsonfmt", 3, 3, runDumpJsonFmt},
    {"dump-dashboard", 3, 3, runDumpDashboard},
    {"dump-ini", 3, std::numeric_limits<qsizetype>::max(), runDumpIni},
    {"dump-mlg", 4, 4, runDumpMlg},
    {"dump-ecucmd", 3, 3, runDumpEcuCmd},
    {"dump-tunecomms", 3, 3, runDumpTuneComms},
    {"dump-msq", 4, 4, runDumpMsq},
    {"dump-tunefields", 5, 5, runDumpTuneFields},
    {"dump-msq-export", 5, 5, runDumpMsqExport},
    {"dump-tunediff", 6, 6, runDumpTuneDiff},
    {"dump-expr", 5, 5, runDumpExpr},
    {"dump-project", 4, 4, runDumpProject},
    {"dump-project-legacy", 5, 5, runDumpProjectLegacy},
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
