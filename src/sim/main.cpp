// torvik-ecu-sim: a simulated Speeduino-class controller, built from a definition, behind a
// loopback TCP port or a pseudo-terminal, until SIGINT or SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <optional>

#include "definition/ini_parser.h"
#include "sim/sim_ecu_connection.h"
#include "sim/stand_in_server.h"

namespace {

constexpr quint16 kDefaultPort = 29001;

const char kUsage[] =
    "Usage: torvik-ecu-sim --ini FILE [--port N | --pty] [--flash FILE] [--baud N]"
    " [--product TEXT]\n"
    "                      [--ve-error PCT[,SEED]]\n"
    "  --ini FILE      the controller's definition (required)\n"
    "  --port N        TCP port on 127.0.0.1 (default 29001; 0: any free port)\n"
    "  --pty           serve a pseudo-terminal instead of a TCP port\n"
    "  --flash FILE    keep burned pages in FILE across restarts\n"
    "  --baud N        pace replies like a serial line of N baud\n"
    "  --product TEXT  the answer to \"S\"\n"
    "  --ve-error PCT[,SEED]\n"
    "                  the engine's true VE differs from the tune's by a smooth pattern of\n"
    "                  up to PCT percent (0 to 50; SEED picks the pattern, default 27)\n"
    "Prints \"torvik-ecu-sim ready tcp 127.0.0.1 PORT\" or \"torvik-ecu-sim ready pty PATH\"\n"
    "once it serves; stops on SIGINT or SIGTERM.\n";

struct Options {
  QString ini;
  std::optional<quint16> port;
  bool pty = false;
  QString flash;
  int baud = 0;
  std::optional<QString> product;
  std::optional<tk::sim::SimVeError> veError;
};

constexpr double kMaxVeErrorPercent = 50.0;

// "PCT" or "PCT,SEED": a percentage from 0 to 50 and an unsigned 32-bit seed.
std::optional<tk::sim::SimVeError> parseVeError(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(','));
  bool ok = false;
  const double percent = parts.at(0).trimmed().toDouble(&ok);
  // Not a number, NaN or infinite included, fails the range check: written as a negated range so
  // that NaN fails it.
  // NOLINTNEXTLINE(readability-simplify-boolean-expr)
  if (!ok || parts.size() > 2 || !(percent >= 0.0 && percent <= kMaxVeErrorPercent)) {
    return std::nullopt;
  }
  quint32 seed = tk::sim::SimVeError::kDefaultSeed;
  if (parts.size() == 2) {
    seed = parts.at(1).trimmed().toUInt(&ok);
    if (!ok) {
      return std::nullopt;
    }
  }
  return tk::sim::SimVeError(percent, seed);
}

int fail(const QString& message, int exitCode) {
  std::fprintf(stderr, "torvik-ecu-sim: %s\n", message.toLocal8Bit().constData());
  return exitCode;
}

// Parses the arguments after the program name; the message of the first mistake otherwise.
std::optional<QString> parse(const QStringList& args, Options& o) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& name = args.at(i);
    if (name == QLatin1String("--pty")) {
      o.pty = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      return QStringLiteral("unknown option or missing value: ") + name;
    }
    const QString& value = args.at(++i);
    bool ok = true;
    if (name == QLatin1String("--ini")) {
      o.ini = value;
    } else if (name == QLatin1String("--port")) {
      o.port = value.toUShort(&ok);
    } else if (name == QLatin1String("--flash")) {
      o.flash = value;
    } else if (name == QLatin1String("--baud")) {
      o.baud = value.toInt(&ok);
      ok = ok && o.baud >= 10;
    } else if (name == QLatin1String("--product")) {
      o.product = value;
    } else if (name == QLatin1String("--ve-error")) {
      o.veError = parseVeError(value);
      if (!o.veError) {
        return QStringLiteral(
                   "invalid value for --ve-error: %1 (expected PCT[,SEED]: a percentage from 0 to "
                   "50, optionally a comma and a whole number from 0 to 4294967295)")
            .arg(value);
      }
    } else {
      return QStringLiteral("unknown option: ") + name;
    }
    if (!ok) {
      return QStringLiteral("invalid value for %1: %2").arg(name, value);
    }
  }
  if (o.ini.isEmpty()) {
    return QStringLiteral("--ini FILE is required");
  }
  if (o.pty && o.port) {
    return QStringLiteral("--port and --pty exclude each other");
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // The stop signals are taken by sigwait below; blocked before any thread starts, so that no
  // serving thread is interrupted by them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A client that hangs up in the middle of a reply is no reason to stop.
  signal(SIGPIPE, SIG_IGN);

  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments().mid(1);
  if (args.contains(QLatin1String("--help"))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  if (const std::optional<QString> error = parse(args, options)) {
    std::fputs(kUsage, stderr);
    return fail(*error, 2);
  }
  if (!QFileInfo(options.ini).isFile() || !QFileInfo(options.ini).isReadable()) {
    return fail(QStringLiteral("cannot read ") + options.ini, 1);
  }

  const tk::EcuDefinition definition = tk::IniParser().parse(options.ini);
  for (const QString& refusal : definition.Refused) {
    std::fprintf(stderr, "torvik-ecu-sim: warning: %s\n", refusal.toLocal8Bit().constData());
  }
  tk::sim::SimEcuConnection sim(definition);
  sim.setProductText(options.product.value_or(
      tk::sim::SimEcuConnection::defaultProductText(definition.Signature)));
  if (!options.flash.isEmpty() && !sim.useFlashFile(options.flash)) {
    return fail(sim.errorString(), 1);
  }
  if (options.veError && !sim.setVeError(*options.veError)) {
    return fail(QStringLiteral("--ve-error needs a VE table: %1 defines none").arg(options.ini), 1);
  }
  QObject::connect(&sim, &tk::comms::EcuConnection::errorOccurred,
                   [](const QString& message) { fail(message, 1); });

  tk::sim::StandInServer server(sim);
  server.setReplyRate(options.baud / 10);
  QString ready;
  if (options.pty) {
    const QString path = server.servePseudoTerminal();
    if (path.isEmpty()) {
      return fail(QStringLiteral("cannot make a pseudo-terminal"), 1);
    }
    ready = QStringLiteral("pty ") + path;
  } else {
    const quint16 wanted = options.port.value_or(kDefaultPort);
    const quint16 port = server.listenOnLoopback(wanted);
    if (port == 0) {
      return fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(wanted), 1);
    }
    ready = QStringLiteral("tcp 127.0.0.1 %1").arg(port);
  }
  std::printf("torvik-ecu-sim ready %s\n", ready.toLocal8Bit().constData());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  // The exchange under way ends first, so a burn in progress reaches the flash file.
  server.stop();
  return 0;
}
