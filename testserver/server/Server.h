#pragma once
// The listener: accepts connections on one loopback address only, gives
// each a session with its own SPID (from 51, as SQL Server numbers user
// sessions), and knows which databases the sessions hold in use.  A named
// instance also answers the SQL Server Browser on that address.

#include "Browser.h"
#include "RequestLog.h"
#include "Session.h"
#include "engine/Catalog.h"

#include <QList>
#include <QObject>
#include <QTcpServer>

#include <memory>

namespace server {

class Server : public QObject, public SessionHost {
    Q_OBJECT
public:
    Server(engine::Catalog catalog, const QString& logPath, bool timing);

    // Binds host:port (0: any free port), and UDP port 1434 of host for a
    // named instance; false with `error` set.
    bool listen(const QHostAddress& host, quint16 port, QString& error);
    quint16 port() const { return port_; }
    // Stops accepting, so that connection attempts are refused, when the
    // state asks for it.  Called once the port has been announced.
    void applyListenerFaults();

    engine::Catalog& catalog() override { return catalog_; }
    RequestLog& log() override { return log_; }
    bool inUse(const engine::DatabaseEntry& db) const override;
    bool timing() const override { return timing_; }
    tds::ServerEncryption encryption() const override;
    StrictTds strictTds() const override;
    bool tls13InTds7() const override { return catalog_.state().encryption.tls13; }
    std::shared_ptr<const TlsCredentials> tlsCredentials() const override { return tls_; }
    // The certificate the server offers; none leaves it without TLS.
    void setTlsCredentials(std::shared_ptr<const TlsCredentials> c) { tls_ = std::move(c); }

private:
    void onNewConnection();
    void onSessionFinished(Session* s);

    engine::Catalog catalog_;
    RequestLog log_;
    bool timing_;
    QTcpServer listener_;
    quint16 port_ = 0;
    std::unique_ptr<Browser> browser_;
    int nextSpid_ = 51;
    QList<Session*> sessions_;
    std::shared_ptr<const TlsCredentials> tls_;
};

} // namespace server
