#include "Backup.h"

#include "Session.h"
#include "platform/odbc/Odbc.h"

namespace dmo {

const ServerMessage* findMessage(const QList<ServerMessage>& messages, std::int32_t number) {
    for (const ServerMessage& m : messages) {
        if (m.number == number) {
            return &m;
        }
    }
    return nullptr;
}

namespace {

QList<ServerMessage> messagesOf(const std::vector<odbc::DiagRecord>& records) {
    QList<ServerMessage> messages;
    for (const odbc::DiagRecord& record : records) {
        messages.append(
            {odbc::isDriverMessage(record.nativeError) ? 0 : record.nativeError, record.text});
    }
    return messages;
}

} // namespace

AbortableOperation::AbortableOperation() : cancellation_(std::make_shared<odbc::Cancellation>()) {}

AbortableOperation::~AbortableOperation() = default;

void AbortableOperation::Abort() { cancellation_->cancel(); }

bool AbortableOperation::AbortAsked() const { return cancellation_->asked(); }

void AbortableOperation::run(const SQLServer& server, const QString& statement,
                             const std::vector<QString>& parameters) {
    messages_.clear();
    if (AbortAsked()) {
        throw rt::RuntimeError(kNoServerMessage,
                               QStringLiteral("[SQL-DMO]La operación se ha cancelado."));
    }
    try {
        odbc::Statement call(server.session_->connected());
        call.setQueryTimeout(std::chrono::seconds(0));
        call.setCancellation(cancellation_);
        call.execute(statement, parameters);
        call.finishResults();
        messages_ = messagesOf(call.messages());
    } catch (const odbc::Error& error) {
        messages_ = messagesOf(error.records());
        throw failureFrom(error);
    }
}

void Backup::SQLBackup(const SQLServer& server) {
    QString statement = QStringLiteral("BACKUP DATABASE ? TO DISK = ? WITH COPY_ONLY, CHECKSUM, "
                                       "NOINIT, NAME = ?, DESCRIPTION = ?, STATS = 10");
    if (compression_) {
        statement += QStringLiteral(", COMPRESSION");
    }
    run(server, statement, {database_, file_, setName_, description_});
}

void Restore::SQLVerify(const SQLServer& server) {
    run(server,
        QStringLiteral("RESTORE VERIFYONLY FROM DISK = ? WITH FILE = %1, CHECKSUM").arg(position_),
        {file_});
}

} // namespace dmo
