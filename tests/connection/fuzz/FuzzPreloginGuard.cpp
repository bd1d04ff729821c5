// libFuzzer target over the guard's reading of a server's clear bytes: the
// PRELOGIN answer, then the TLS handshake inside PRELOGIN packets, where it
// looks for the certificates.  The driver's PRELOGIN asking for encryption
// goes first, as it does on every connection.  The first input byte sets
// how the rest is cut into reads.
//
// What the guard passes on must be the server's bytes, in order, byte for
// byte; after it stops a connection, nothing.

#include "platform/connection/PreloginGuard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + data[0] % 64;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1),
                            static_cast<qsizetype>(size - 1));
    // The certificate "names the host" when its first byte is even.
    connection::PreloginGuard guard(false, [](const QByteArray& der) {
        return !der.isEmpty() && (static_cast<std::uint8_t>(der[0]) & 1) == 0;
    });
    static const QByteArray request("\x12\x01\x00\x1a\x00\x00\x00\x00"
                                    "\x00\x00\x0b\x00\x06\x01\x00\x11\x00\x01\xff"
                                    "\x0b\x00\x00\x00\x00\x00\x01",
                                    26);
    if (guard.fromDriver(request).forward != request) {
        std::abort();
    }
    QByteArray passed;
    for (qsizetype at = 0; at < stream.size(); at += static_cast<qsizetype>(piece)) {
        const auto step = guard.fromServer(stream.mid(at, static_cast<qsizetype>(piece)));
        if (step.stop && !step.forward.isEmpty()) {
            std::abort();
        }
        passed += step.forward;
        if (!stream.startsWith(passed)) {
            std::abort();
        }
        if (step.stop) {
            break;
        }
    }
    return 0;
}
