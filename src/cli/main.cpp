#include <QCoreApplication>
#include <cstdio>
#include <exception>
#include <new>

#include "cli/dispatch.h"

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
    QCoreApplication app(argc, argv);
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
