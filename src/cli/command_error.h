#pragma once

#include <QString>
#include <stdexcept>

namespace tk::cli {

/// A failure a command reports to its caller; the message is the user-facing text.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

}  // namespace tk::cli
