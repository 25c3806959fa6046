#pragma once

// A real connection with test hooks between the caller and the wire.

#include <QList>
#include <functional>
#include <memory>
#include <utility>

#include "comms/ecu_connection.h"

namespace tk::test {

/// Passes everything to the wrapped connection; may run a hook before a write goes out and may
/// change what a read brings in.
class HookedConnection : public comms::EcuConnection {
 public:
  /// Wraps inner (owned).
  explicit HookedConnection(std::unique_ptr<comms::EcuConnection> inner)
      : inner_(std::move(inner)) {}

  QString id() const override { return inner_->id(); }
  QString displayName() const override { return inner_->displayName(); }
  comms::ConnectionStatus status() const override { return inner_->status(); }
  bool open() override { return inner_->open(); }
  void close() override { inner_->close(); }
  qint64 write(const QByteArray& bytes) override {
    if (beforeWrite) {
      beforeWrite(bytes);
    }
    return inner_->write(bytes);
  }
  QByteArray read(qint64 maxBytes, qint64 waitMs) override {
    const QByteArray bytes = inner_->read(maxBytes, waitMs);
    return onRead ? onRead(bytes) : bytes;
  }
  qint64 bytesAvailable() override { return inner_->bytesAvailable(); }

  /// Runs with the bytes before each write is passed on.
  std::function<void(const QByteArray&)> beforeWrite;
  /// Turns the bytes each read brought into the bytes the caller gets.
  std::function<QByteArray(const QByteArray&)> onRead;

 private:
  std::unique_ptr<comms::EcuConnection> inner_;
};

}  // namespace tk::test
