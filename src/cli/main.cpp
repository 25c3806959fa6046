#include "cli/dispatch.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QString::fromLatin1(tk::cli::kApplicationName));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(tk::cli::kApplicationVersion));
  return tk::cli::dispatch(QCoreApplication::arguments());
}
