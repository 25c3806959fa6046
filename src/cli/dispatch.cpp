#include "cli/dispatch.h"

#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <utility>

#include "cli/agent_runner.h"
#include "cli/ecu_detect.h"
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
#include "conformance/ecu_smoke.h"

namespace tk::cli {
namespace {

// A conformance command runs when the first argument and the argument count (program path
// included) match its row. No name appears with overlapping counts, so the rows can be tried in
// any order; a known name with another count falls through to the agent-command runner.
struct ConformanceCommand {
  const char* name;
  qsizetype minCount;
  qsizetype maxCount;
  int (*run)(const QStringList& arguments);
};

// Calls run with the arguments after the command name as its text parameters, in order; an
// argument that a shorter count leaves out is passed as an empty text.
template <typename... Texts>
int callPositional(int (*run)(Texts...), const QStringList& arguments) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return run(arguments.value(2 + static_cast<qsizetype>(I))...);
  }
  (std::index_sequence_for<Texts...>{});
}

// The row's runner for a command whose arguments are all positional texts.
template <auto Run>
int byPosition(const QStringList& arguments) {
  return callPositional(Run, arguments);
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

const ConformanceCommand kConformanceCommands[] = {
    {"dump-crc32", 3, 3, byPosition<conformance::dumpCrc32>},
    {"dump-jsonfmt", 3, 3, byPosition<conformance::dumpJsonFmt>},
    {"dump-dashboard", 3, 3, byPosition<conformance::dumpDashboard>},
    {"dump-ini", 3, std::numeric_limits<qsizetype>::max(), runDumpIni},
    {"dump-mlg", 4, 4, byPosition<conformance::dumpMlg>},
    {"dump-ecucmd", 3, 3, byPosition<conformance::dumpEcuCmd>},
    {"dump-tunecomms", 3, 3, byPosition<conformance::dumpTuneComms>},
    {"dump-msq", 4, 4, byPosition<conformance::dumpMsq>},
    {"dump-tunefields", 5, 5, byPosition<conformance::dumpTuneFields>},
    {"dump-msq-export", 5, 5, byPosition<conformance::dumpMsqExport>},
    {"dump-tunediff", 6, 6, byPosition<conformance::dumpTuneDiff>},
    {"dump-expr", 5, 5, byPosition<conformance::dumpExpr>},
    {"dump-project", 4, 4, byPosition<conformance::dumpProject>},
    {"dump-project-legacy", 5, 5, byPosition<conformance::dumpProjectLegacy>},
    {"ecu-detect", 2, 4, byPosition<ecuDetect>},
    {"ecu-smoke", 3, 4, byPosition<conformance::ecuSmoke>},
};

}  // namespace

int runConformanceGuarded(const std::function<int()>& command) {
  try {
    return command();
  } catch (const std::bad_alloc&) {
    std::fputs("ERROR: out of memory\n", stderr);
    return kOutOfMemoryExitCode;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ERROR: %s\n", e.what());
  } catch (...) {
    std::fputs("ERROR: unexpected failure\n", stderr);
  }
  return 2;
}

int dispatch(const QStringList& arguments) {
  if (arguments.size() >= 2) {
    const QString& first = arguments.at(1);
    for (const ConformanceCommand& command : kConformanceCommands) {
      if (first == QLatin1String(command.name) && arguments.size() >= command.minCount &&
          arguments.size() <= command.maxCount) {
        return runConformanceGuarded([&] { return command.run(arguments); });
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
