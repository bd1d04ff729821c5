#pragma once
// The catalog views and msdb tables a SELECT can name, each as columns over
// rows and with SQL Server's column types and NULLs: sysdatabases,
// sys.databases, sysprocesses, sysaltfiles, sys.master_files,
// sys.database_mirroring, the availability group views, sys.dm_exec_requests
// and msdb's backup and log shipping tables.  A view is built for one
// session (what it may see, which views exist in the product's version)
// when the query runs; its values are computed as rows are read.

#include "Catalog.h"
#include "Executor.h"
#include "protocol/TokenWriter.h"
#include "sql/Statements.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace engine {

struct ViewColumn {
    tds::Column meta;
    std::function<tds::Value(qsizetype row)> value;
};

struct View {
    QString name; // as permission messages name it: "sysdatabases", "backupset"
    QList<ViewColumn> columns;
    qsizetype rows = 0;
    QStringList star;     // the columns * stands for
    bool sortable = true; // sysprocesses is listed in spid order only
    // Null when the view has no such column.
    const ViewColumn* column(const QString& name) const;
};

// The view `name` names, for this session.  Throws StatementError: 911 for
// a database that does not exist, 916 for msdb when the login is denied it,
// 208 for an object this server does not know (or not in this version),
// 229 for a view the login is denied.
View openView(const sql::ObjectName& name, const Catalog& catalog, const SessionState& session);

} // namespace engine
