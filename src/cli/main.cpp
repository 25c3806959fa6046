#include <QCoreApplication>

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
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QString::fromLatin1(tk::cli::kApplicationName));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(tk::cli::kApplicationVersion));
  return tk::cli::dispatch(QCoreApplication::arguments());
}
