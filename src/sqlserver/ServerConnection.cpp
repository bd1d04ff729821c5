#include "ServerConnection.h"

void connectPassingLogin(dmo::SQLServer& server, const QString& sServidor, const QString& sUsuario,
                         const QString& sPassword) {
    if (!sUsuario.isEmpty()) {
        server.Connect(sServidor, sUsuario, sPassword);
    } else {
        server.setLoginSecure(true);
        server.Connect(sServidor);
    }
}
