#pragma once
// One client connection: PRELOGIN (and the TLS handshake it agrees on),
// LOGIN7 (SQL or Kerberos), then SQL batches, RPC requests and attentions,
// answered in packets of the negotiated size, inside TLS when the whole
// session is encrypted.  It applies
// the faults of the state file at each stage, and closes the connection
// (with one log line) on input a SQL Server would not take.

#include "FaultInjector.h"
#include "TlsChannel.h"
#include "engine/Executor.h"
#include "protocol/Packets.h"
#include "protocol/Prelogin.h"
#include "state/ServerState.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace server {

class RequestLog;

// Whether the server speaks TDS 8.0 (TLS first, ALPN "tds/8.0").
enum class StrictTds { None, Accepted, Only };

// What a session needs from the server around it.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    virtual engine::Catalog& catalog() = 0;
    virtual RequestLog& log() = 0;
    virtual bool inUse(const engine::DatabaseEntry& db) const = 0;
    virtual bool timing() const = 0;
    virtual tds::ServerEncryption encryption() const = 0;
    virtual StrictTds strictTds() const = 0;
    virtual bool tls13InTds7() const = 0;
    // Null when the server has no certificate.
    virtual std::shared_ptr<const TlsCredentials> tlsCredentials() const = 0;
};

class Session : public QObject, private FaultedConnection {
    Q_OBJECT
public:
    Session(QTcpSocket* socket, int spid, SessionHost& host, QObject* parent = nullptr);

    int spid() const { return state_.spid; }
    bool loggedIn() const { return stage_ == Stage::LoggedIn; }
    const QString& database() const { return state_.database; }
    // Starts serving, after the connect-stage faults have been applied.
    void start();

signals:
    void finished(Session* self);

private:
    enum class Stage { Prelogin, Login, LoggedIn, Closed };

    void onReadyRead();
    void readAvailable();
    // The first bytes of a connection: TLS at once is a TDS 8.0 client.
    // False when the connection was refused.
    bool startStrictIfAsked(const QByteArray& first);
    // False once the strict handshake failed; `data` is what it left over.
    bool strictHandshake(QByteArray& data);
    void processMessages();
    void handle(const tds::Message& m);
    void handlePrelogin(const tds::Message& m);
    void handleTlsHandshake(const tds::Message& m);
    void handleLogin(const tds::Message& m);
    void handleBatch(const tds::Message& m);
    void handleRpc(const tds::Message& m);
    // Runs a batch's statements and sends their answer.
    void runStatements(const QString& text);
    void handleAttention();

    // Writes the request's log line, applies the first fault of `stage`
    // that touches this connection (or `login`, when given) and `statement`,
    // and answers with `respond` now or, after a delay, later.
    void serve(state::FaultStage stage, QJsonObject logEntry, const std::function<void()>& respond,
               const std::optional<QString>& login = std::nullopt,
               const QString& statement = QString());
    // Every byte to the client goes through here: TLS records while the
    // session is encrypted, the TDS packets themselves otherwise.
    void transmit(const QByteArray& packets);
    void sendResult(const tds::Bytes& tokens);
    void sendRows(const tds::TokenWriter& w);
    void rejectInput(const QString& why);

    // FaultedConnection
    bool isClosed() const override;
    void writeStream(const tds::Bytes& stream, std::size_t from, std::size_t to) override;
    tds::Bytes packetized(const tds::Bytes& tokens) const override;
    std::size_t packetSize() const override { return packetSize_; }
    void closeGracefully() override;
    void hold() override { paused_ = true; }
    void release() override { paused_ = false; }
    bool cancelWaiting() override;
    void answerCancelledQuery() override;
    void resumeRequests() override { onReadyRead(); }
    void mute() override { muted_ = true; }
    void loseLink() override;
    // A long statement of the batch running: its request is shown, and its
    // end (or an attention) goes on with the batch.
    void continueBatch(std::optional<engine::Pending> pending);
    void finishPending();
    // How far the long statement is: its percentage shown, and what it
    // says meanwhile sent at once.
    void reportProgress();
    // The answer so far, sent without ending the message: more follows.
    void sendPartial();
    void endConnection();
    void logRequest(const QString& kind, QJsonObject extra = {});
    QJsonObject baseEntry(const QString& kind) const;
    void startTiming(const QString& kind);
    void onBytesWritten(qint64 bytes);

    QPointer<QTcpSocket> socket_;
    SessionHost& host_;
    tds::MessageAssembler assembler_;
    Stage stage_ = Stage::Prelogin;
    engine::SessionState state_;
    std::uint32_t tdsVersion_ = 0;
    std::size_t packetSize_ = 4096;
    bool paused_ = false; // a delay fault holds the requests back
    bool muted_ = false;  // a loseAnswer fault: nothing more is sent
    FaultInjector faults_;
    std::unique_ptr<TlsChannel> tls_; // set once PRELOGIN agreed on TLS
    bool tlsLoginOnly_ = false;       // TLS ends with the login packet
    bool strict_ = false;             // TDS 8.0: TLS came before PRELOGIN
    bool received_ = false;           // the client has sent a byte
    bool tlsHandshaken_ = false;
    bool tlsRecords_ = false; // the socket carries TLS records now
    std::optional<engine::Pending> pending_;
    tds::TokenWriter pendingOut_{0};
    QTimer pendingTimer_;
    QTimer progressTimer_;
    QElapsedTimer pendingClock_;
    // The link went down while a statement ran: the session ends with it.
    bool endWhenDone_ = false;
    QElapsedTimer timer_;
    QString timedKind_;
    qint64 timedBytes_ = 0;
};

} // namespace server
