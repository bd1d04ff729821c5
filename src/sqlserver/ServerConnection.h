#pragma once
// The connection rule of the management objects, shared by dimeTipoSQL and
// the removal: a SQL Server login passed to Connect, or the integrated login
// for an empty one.

#include "platform/dmo/SQLServer.h"

#include <QString>

void connectPassingLogin(dmo::SQLServer& server, const QString& sServidor, const QString& sUsuario,
                         const QString& sPassword);
