#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "cli/dispatch.h"
#include "cli/plot_commands.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // Keep large blocks and freed memory in the heap for reuse: fewer pages faulted in per command.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
  // Every command guards its own work; this is the last resort for what fails around it (the
  // application object, writing a result), so that no exception aborts the process.
  try {
    // plot draws with Qt's painter, whose text needs the GUI application; offscreen, since a
    // picture file needs no display. Every other command keeps the lighter core application.
    const bool draws = argc > 1 && std::strcmp(argv[1], "plot") == 0;
    if (draws) {
      tk::cli::prepareOffscreenDrawing();
    }
    const std::unique_ptr<QCoreApplication> app =
        draws ? std::make_unique<QGuiApplication>(argc, argv)
              : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(tk::cli::kApplicationName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tk::cli::kApplicationVersion));
    return tk::cli::dispatch(QCoreApplication::arguments());
  } catch (const std::bad_alloc&) {
    std::fputs("ERROR: out of memory\n", stderr);
    return tk::cli::kOutOfMemoryExitCode;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ERROR: %s\n", e.what());
  } catch (...) {
    std::fputs("ERROR: unexpected failure\n", stderr);
  }
  return 1;
}
