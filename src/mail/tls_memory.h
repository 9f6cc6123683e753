#pragma once

#include "store/status.h"

#include <QString>

// The servers that have spoken TLS with the program, by host and port, one
// line "host port" each in a file only its owner can read. A server named
// without a scheme is asked for STLS when it offers it; once it has offered
// it, a later answer that no longer does (someone on the path may have taken
// it out of the list) is refused instead of sending the password in plain
// text.
namespace lumora {

class TlsMemory {
public:
    // No file: nothing is remembered.
    TlsMemory() = default;
    explicit TlsMemory(QString path) : path_(std::move(path)) {}

    bool spokeTlsBefore(const QString& host, int port) const;
    // Kept from now on; nothing is written when it is known already.
    Status remember(const QString& host, int port) const;

private:
    QString path_;
};

} // namespace lumora
