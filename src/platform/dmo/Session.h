#pragma once
// Inside the management objects: the one connection a SQLServer object
// holds, shared with the objects taken from it and the operations run on it.

#include "Failure.h"
#include "platform/connection/Link.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace dmo::detail {

struct Session {
    std::unique_ptr<connection::Link> link;
    std::optional<std::int32_t> processId; // known once read

    bool isConnected() const { return link != nullptr; }
    odbc::Connection& connected() {
        if (!isConnected()) {
            throw rt::RuntimeError(kNoServerMessage,
                                   QStringLiteral("[SQL-DMO]No hay conexión con el servidor."));
        }
        return link->odbc();
    }
};

} // namespace dmo::detail
