#include "Server.h"

namespace server {

Server::Server(engine::Catalog catalog, const QString& logPath, bool timing)
    : catalog_(std::move(catalog)), log_(logPath), timing_(timing) {
    connect(&listener_, &QTcpServer::newConnection, this, &Server::onNewConnection);
}

bool Server::listen(const QHostAddress& host, quint16 port, QString& error) {
    if (!listener_.listen(host, port)) {
        error = listener_.errorString();
        return false;
    }
    port_ = listener_.serverPort();
    const state::ServerState& s = catalog_.state();
    if (!s.instance.isEmpty()) {
        browser_ = std::make_unique<Browser>(s.instance, s.version, port_);
        QString why;
        if (!browser_->listen(host, why)) {
            error = QStringLiteral("the SQL Server Browser cannot use UDP port %1: %2")
                        .arg(Browser::Port)
                        .arg(why);
            listener_.close();
            return false;
        }
    }
    return true;
}

void Server::applyListenerFaults() {
    for (const state::Fault& f : catalog_.state().faults) {
        if (f.stage == state::FaultStage::Connect && f.action == state::FaultAction::Refuse) {
            listener_.close();
            log_.write(QJsonObject{{"request", "connect"}, {"fault", "refuse"}});
            return;
        }
    }
}

tds::ServerEncryption Server::encryption() const {
    switch (catalog_.state().encryption.mode) {
    case state::EncryptionMode::Required:
        return tds::ServerEncryption::Forced;
    case state::EncryptionMode::Unsupported:
        return tds::ServerEncryption::Unsupported;
    case state::EncryptionMode::Off:
    case state::EncryptionMode::Strict: // a TDS 7.x client is refused first
    case state::EncryptionMode::StrictCapable:
        break;
    }
    return tds::ServerEncryption::Available;
}

StrictTds Server::strictTds() const {
    switch (catalog_.state().encryption.mode) {
    case state::EncryptionMode::Strict:
        return StrictTds::Only;
    case state::EncryptionMode::StrictCapable:
        return StrictTds::Accepted;
    default:
        return StrictTds::None;
    }
}

bool Server::inUse(const engine::DatabaseEntry& db) const {
    if (db.inUse) {
        return true;
    }
    // A running backup holds its database.
    for (const engine::LiveRequest& r : catalog_.liveRequests()) {
        if (r.holdsDatabase && r.databaseId == db.id) {
            return true;
        }
    }
    for (const Session* s : sessions_) {
        if (s->loggedIn() && catalog_.sameDatabase(s->database(), db.name)) {
            return true;
        }
    }
    return false;
}

void Server::onNewConnection() {
    while (QTcpSocket* socket = listener_.nextPendingConnection()) {
        auto* session = new Session(socket, nextSpid_++, *this, this);
        if (nextSpid_ > 32767) {
            nextSpid_ = 51;
        }
        sessions_.append(session);
        connect(session, &Session::finished, this, &Server::onSessionFinished);
        session->start();
    }
}

void Server::onSessionFinished(Session* s) {
    if (sessions_.removeOne(s)) {
        s->deleteLater();
    }
}

} // namespace server
