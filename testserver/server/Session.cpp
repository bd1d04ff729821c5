#include "Session.h"

#include "KerberosAcceptor.h"
#include "RequestLog.h"
#include "engine/Executor.h"
#include "engine/Messages.h"
#include "protocol/Login7.h"
#include "protocol/Prelogin.h"
#include "protocol/Requests.h"
#include "protocol/TdsVersion.h"
#include "protocol/TokenWriter.h"
#include "sql/Parameters.h"
#include "sql/Statements.h"

#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace server {

namespace {
using state::FaultStage;

constexpr std::size_t InitialPacketSize = 4096;
// How often a long statement's percentage moves on, and what it says meanwhile goes out.
constexpr int ProgressEveryMs = 50;
// The first byte of a TLS handshake record; a TDS packet begins with its type.
constexpr char TlsHandshakeRecord = 0x16;

QString hexVersion(std::uint32_t v) {
    return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0'));
}

QByteArray asByteArray(const tds::Bytes& b, std::size_t from = 0,
                       std::size_t to = static_cast<std::size_t>(-1)) {
    to = std::min(to, b.size());
    return QByteArray(reinterpret_cast<const char*>(b.data() + from),
                      static_cast<qsizetype>(to - from));
}

QString fromU16(const std::u16string& s) { return QString::fromStdU16String(s); }

QString methodOf(const tds::Login7& login) {
    if (!login.integratedSecurity) {
        return QStringLiteral("sql");
    }
    static const tds::Bytes ntlm = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    const bool isNtlm = login.sspi.size() >= ntlm.size() &&
                        std::equal(ntlm.begin(), ntlm.end(), login.sspi.begin());
    return isNtlm ? QStringLiteral("ntlm") : QStringLiteral("kerberos");
}

// The Windows login (DOMINIO\\user) of a Kerberos principal's user name.
const state::Login* integratedLogin(const engine::Catalog& catalog, const QString& user) {
    for (const state::Login& l : catalog.state().logins) {
        if (l.integrated && engine::sameName(l.name.section(u'\\', 1), user)) {
            return &l;
        }
    }
    return nullptr;
}
} // namespace

Session::Session(QTcpSocket* socket, int spid, SessionHost& host, QObject* parent)
    : QObject(parent), socket_(socket), host_(host),
      faults_(host.catalog().state().faults, *this, this) {
    socket->setParent(this);
    state_.spid = spid;
    connect(socket, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &Session::onBytesWritten);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (stage_ != Stage::Closed && assembler_.midMessage()) {
            rejectInput(QStringLiteral("connection closed inside a request"));
            return;
        }
        stage_ = Stage::Closed;
        endConnection();
    });
    pendingTimer_.setSingleShot(true);
    connect(&pendingTimer_, &QTimer::timeout, this, &Session::finishPending);
    connect(&progressTimer_, &QTimer::timeout, this, &Session::reportProgress);
}

void Session::endConnection() {
    // A statement still running goes on to its end, as on SQL Server.
    if (pending_) {
        endWhenDone_ = true;
        return;
    }
    emit finished(this);
}

void Session::start() {
    serve(FaultStage::Connect, baseEntry(QStringLiteral("connect")), [this] { onReadyRead(); });
}

QJsonObject Session::baseEntry(const QString& kind) const {
    return QJsonObject{{"session", state_.spid},
                       {"login", state_.login},
                       {"database", state_.database},
                       {"request", kind}};
}

void Session::logRequest(const QString& kind, QJsonObject extra) {
    QJsonObject entry = baseEntry(kind);
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        entry.insert(it.key(), it.value());
    }
    host_.log().write(entry);
}

void Session::onReadyRead() {
    if (paused_ || !socket_ || stage_ == Stage::Closed) {
        return;
    }
    readAvailable();
    processMessages();
}

void Session::readAvailable() {
    QByteArray data = socket_->readAll();
    if (!received_ && !data.isEmpty()) {
        received_ = true;
        if (!startStrictIfAsked(data)) {
            return;
        }
    }
    if (strict_ && !tlsHandshaken_ && !strictHandshake(data)) {
        return;
    }
    if (tlsRecords_) {
        QByteArray clear;
        if (!tls_->decrypt(data, clear)) {
            rejectInput(tls_->error());
            return;
        }
        data = clear;
    }
    assembler_.feed(tds::ByteView(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  static_cast<std::size_t>(data.size())));
}

bool Session::startStrictIfAsked(const QByteArray& first) {
    const StrictTds strict = host_.tlsCredentials() ? host_.strictTds() : StrictTds::None;
    if (strict == StrictTds::None) {
        return true;
    }
    if (first.front() == TlsHandshakeRecord) {
        tls_ = std::make_unique<TlsChannel>(host_.tlsCredentials(), TlsChannel::Kind::Strict);
        strict_ = true;
        return true;
    }
    if (strict == StrictTds::Only) {
        // As SQL Server forcing strict encryption: the connection is closed
        // unanswered, before the PRELOGIN is read.
        logRequest(QStringLiteral("prelogin"),
                   {{"refused", QStringLiteral("TDS 7.x client on a strict-only server")}});
        closeGracefully();
        return false;
    }
    return true;
}

bool Session::strictHandshake(QByteArray& data) {
    QByteArray reply;
    const TlsChannel::Progress progress = tls_->handshake(data, reply);
    data.clear(); // what came after the handshake waits inside the channel
    if (!reply.isEmpty()) {
        socket_->write(reply);
    }
    if (progress == TlsChannel::Progress::Continue) {
        return false;
    }
    if (progress == TlsChannel::Progress::Done && tls_->alpn() != "tds/8.0") {
        logRequest(QStringLiteral("tls"),
                   {{"error", QStringLiteral("the client did not ask for ALPN \"tds/8.0\"")}});
        closeGracefully();
        return false;
    }
    if (progress == TlsChannel::Progress::Failed) {
        logRequest(QStringLiteral("tls"), {{"error", tls_->error()}});
        closeGracefully();
        return false;
    }
    tlsHandshaken_ = true;
    tlsRecords_ = true;
    return true;
}

void Session::processMessages() {
    while (!paused_ && stage_ != Stage::Closed) {
        std::optional<tds::Message> m = assembler_.next();
        if (!m) {
            break;
        }
        handle(*m);
    }
    if (!paused_ && stage_ != Stage::Closed && assembler_.failed()) {
        rejectInput(QString::fromStdString(assembler_.error()));
    }
}

void Session::handle(const tds::Message& m) {
    startTiming(QString::number(m.type));
    if (m.type == tds::packet::Attention) {
        handleAttention();
        return;
    }
    switch (stage_) {
    case Stage::Prelogin:
        if (m.type == tds::packet::Prelogin) {
            handlePrelogin(m);
            return;
        }
        [[fallthrough]];
    case Stage::Login:
        if (m.type == tds::packet::Prelogin && tls_ && !tlsHandshaken_) {
            handleTlsHandshake(m);
            return;
        }
        if (m.type == tds::packet::Login7) {
            // Once TLS is agreed, or when the server forces it, a login in
            // clear is refused unread.
            const bool forced =
                host_.tlsCredentials() && host_.encryption() == tds::ServerEncryption::Forced;
            if ((tls_ || forced) && !tlsRecords_) {
                rejectInput(QStringLiteral("login packet in clear after TLS was agreed"));
                return;
            }
            handleLogin(m);
            return;
        }
        if (m.type == tds::packet::PreTds7Login) {
            rejectInput(QStringLiteral("TDS 4.2 and 5.0 logins are not served"));
            return;
        }
        break;
    case Stage::LoggedIn:
        if (m.type == tds::packet::SqlBatch) {
            handleBatch(m);
            return;
        }
        if (m.type == tds::packet::Rpc) {
            handleRpc(m);
            return;
        }
        break;
    case Stage::Closed:
        return;
    }
    rejectInput(QStringLiteral("packet type %1 not expected here").arg(m.type));
}

void Session::serve(FaultStage stage, QJsonObject entry, const std::function<void()>& respond,
                    const std::optional<QString>& login, const QString& statement) {
    const state::Fault* f = faults_.find(stage, login.value_or(state_.login), statement);
    if (f) {
        entry.insert("fault", state::faultActionName(f->action));
    }
    // The line goes out before the fault acts, so it is there when the client
    // notices.  A connection is not a request: it is logged only when faulted.
    if (f || stage != FaultStage::Connect) {
        host_.log().write(entry);
    }
    if (!f || faults_.act(*f, stage, respond)) {
        respond();
    }
}

void Session::handlePrelogin(const tds::Message& m) {
    std::string why;
    const auto req = tds::parsePrelogin(m.payload, why);
    if (!req) {
        rejectInput(QString::fromStdString(why));
        return;
    }
    QJsonObject entry = baseEntry(QStringLiteral("prelogin"));
    entry.insert("instance", QString::fromStdString(req->instance));
    if (req->encryption) {
        entry.insert("encryption", *req->encryption);
    }
    const QString instance = QString::fromStdString(req->instance);
    // Inside TDS 8.0's TLS the option means nothing: no second TLS follows.
    const tds::EncryptionChoice choice =
        strict_ ? tds::EncryptionChoice{}
                : tds::chooseEncryption(host_.tlsCredentials() ? host_.encryption()
                                                               : tds::ServerEncryption::Unsupported,
                                        req->encryption);
    entry.insert("strict", strict_);
    entry.insert("answer", choice.answer);
    auto respond = [this, instance, choice] {
        const QString served = host_.catalog().state().instance;
        const bool matches =
            instance.isEmpty() ||
            engine::sameName(instance, served.isEmpty() ? QStringLiteral("MSSQLServer") : served);
        const tds::Bytes body =
            tds::preloginResponse(host_.catalog().product().parts, choice.answer, matches);
        transmit(
            asByteArray(tds::packetize(tds::packet::TabularResult, body, InitialPacketSize, 0)));
        if (choice.refuse) { // Force Encryption and a client that cannot encrypt
            closeGracefully();
            return;
        }
        if (choice.tls) {
            tls_ = std::make_unique<TlsChannel>(
                host_.tlsCredentials(),
                host_.tls13InTds7() ? TlsChannel::Kind::Tds7WithTls13 : TlsChannel::Kind::Tds7);
            tlsLoginOnly_ = choice.loginOnly;
        }
        stage_ = Stage::Login;
    };
    serve(FaultStage::Prelogin, entry, respond);
}

void Session::handleTlsHandshake(const tds::Message& m) {
    QByteArray reply;
    const TlsChannel::Progress progress = tls_->handshake(asByteArray(m.payload), reply);
    if (!reply.isEmpty()) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(reply.constData());
        socket_->write(asByteArray(tds::packetize(
            tds::packet::Prelogin, tds::ByteView(bytes, static_cast<std::size_t>(reply.size())),
            InitialPacketSize, 0)));
    }
    if (progress == TlsChannel::Progress::Failed) {
        // Most often the client refused the certificate; it is not bad input.
        logRequest(QStringLiteral("tls"), {{"error", tls_->error()}});
        closeGracefully();
    } else if (progress == TlsChannel::Progress::Done) {
        tlsHandshaken_ = true;
        tlsRecords_ = true;
    }
}

void Session::handleLogin(const tds::Message& m) {
    std::string why;
    const auto login = tds::parseLogin7(m.payload, why);
    if (!login) {
        rejectInput(QString::fromStdString(why));
        return;
    }
    QJsonObject entry = baseEntry(QStringLiteral("login"));
    entry.insert("login", fromU16(login->userName));
    entry.insert("application", fromU16(login->appName));
    entry.insert("host", fromU16(login->hostName));
    entry.insert("server", fromU16(login->serverName));
    entry.insert("library", fromU16(login->libraryName));
    entry.insert("requestedDatabase", fromU16(login->database));
    entry.insert("tdsVersion", hexVersion(login->tdsVersion));
    entry.insert("integrated", login->integratedSecurity);
    entry.insert("encrypted", tlsRecords_);
    entry.insert("tls", !tlsRecords_    ? "none"
                        : strict_       ? "strict"
                        : tlsLoginOnly_ ? "login"
                                        : "session");
    entry.insert("method", methodOf(*login));
    // The ticket is checked as the login arrives, so its principal is logged.
    KerberosAcceptance kerberos;
    const auto& kerberosSetup = host_.catalog().state().kerberos;
    if (login->integratedSecurity && kerberosSetup && !login->sspi.empty()) {
        kerberos = acceptKerberos(kerberosSetup->keytab, login->sspi);
        entry.insert("principal", kerberos.principal);
        if (!kerberos.accepted) {
            entry.insert("kerberosError", kerberos.error);
        }
    }
    if (tlsLoginOnly_ && tlsRecords_) {
        // The client has dropped TLS already; the answer goes in clear.
        tlsRecords_ = false;
        tls_.reset();
    }
    const QString user = fromU16(login->userName);
    auto respond = [this, login = *login, kerberos] {
        const engine::Catalog& catalog = host_.catalog();
        const engine::Product& product = catalog.product();
        const std::uint32_t version =
            tds::negotiateVersion(login.tdsVersion, tds::serverMaxVersion(product.parts.major));
        if (version == 0) {
            rejectInput(
                QStringLiteral("TDS version %1 is not served").arg(hexVersion(login.tdsVersion)));
            return;
        }
        tdsVersion_ = version;
        tds::TokenWriter w(version);
        QString name = fromU16(login.userName);
        auto refuse = [&](int number, const QString& text) {
            w.message(engine::serverMessage(number, 14, text));
            w.done(tds::done::Error, 0, 0);
            sendResult(w.take());
            closeGracefully();
        };
        const state::Login* account = nullptr;
        if (login.integratedSecurity) {
            const auto& realm = catalog.state().kerberos;
            // A token that cannot be accepted, or a principal of another
            // realm, is a domain SQL Server does not trust.
            if (!kerberos.accepted || !realm ||
                !kerberos.principal.endsWith(u'@' + realm->realm, Qt::CaseInsensitive)) {
                refuse(18452,
                       QStringLiteral("Login failed. The login is from an untrusted domain and "
                                      "cannot be used with Integrated authentication."));
                return;
            }
            const QString principalUser = kerberos.principal.section(u'@', 0, 0);
            account = integratedLogin(catalog, principalUser);
            name =
                account ? account->name : realm->realm.section(u'.', 0, 0) + u'\\' + principalUser;
            if (!account) {
                refuse(18456, QStringLiteral("Login failed for user '%1'.").arg(name));
                return;
            }
            w.sspi(kerberos.reply);
        } else {
            account = catalog.login(name);
            if (!account || account->integrated || account->password != fromU16(login.password)) {
                refuse(18456, QStringLiteral("Login failed for user '%1'.").arg(name));
                return;
            }
        }
        // Without a database in the packet the session starts in the login's
        // default database, which it then holds in use.
        const bool byDefault = login.database.empty() && account->defaultDatabase;
        const QString wanted = !login.database.empty() ? fromU16(login.database)
                               : byDefault             ? *account->defaultDatabase
                                                       : QStringLiteral("master");
        const engine::DatabaseEntry* db = catalog.find(wanted);
        if (!db && byDefault) {
            w.message(engine::serverMessage(
                4064, 11, QStringLiteral("Cannot open user default database. Login failed.")));
            refuse(18456, QStringLiteral("Login failed for user '%1'.").arg(name));
            return;
        }
        if (!db) {
            w.message(engine::serverMessage(4060, 11,
                                            QStringLiteral("Cannot open database \"%1\" requested "
                                                           "by the login. The login failed.")
                                                .arg(wanted)));
            refuse(18456, QStringLiteral("Login failed for user '%1'.").arg(name));
            return;
        }
        state_.login = account->name;
        state_.sysadmin = account->sysadmin;
        state_.deny = account->deny;
        state_.viewAnyDatabase = account->viewAnyDatabase;
        state_.permissions = account->permissions;
        state_.roles = account->roles;
        state_.database = db->name;
        packetSize_ = login.packetSize == 0 ? InitialPacketSize
                                            : std::clamp<std::size_t>(login.packetSize, 512,
                                                                      tds::packet::MaxPacketSize);
        // The login's language field: Spanish, or us_english for anything else.
        const engine::Language language = engine::isSpanishName(fromU16(login.language))
                                              ? engine::Language::Spanish
                                              : engine::Language::English;
        state_.language = engine::languageName(language);
        w.envChange(tds::envchange::Database, db->name.toStdU16String(), u"master");
        w.message(
            engine::serverMessage(5701, 0, engine::messageText(5701, language, {db->name}), 2));
        w.envChangeCollation(catalog.collation().tdsBytes());
        w.envChange(tds::envchange::Language, state_.language.toStdU16String(), u"");
        w.message(
            engine::serverMessage(5703, 0, engine::messageText(5703, language, {state_.language})));
        w.loginAck(version, u"Microsoft SQL Server", product.parts.major, product.parts.minor,
                   product.parts.build);
        w.envChange(tds::envchange::PacketSize, QString::number(packetSize_).toStdU16String(),
                    QString::number(InitialPacketSize).toStdU16String());
        if (const auto& routing = catalog.state().routing) {
            w.envChangeRouting(routing->host.toStdU16String(),
                               static_cast<std::uint16_t>(routing->port));
        }
        w.done(tds::done::Final, 0, 0);
        stage_ = Stage::LoggedIn;
        transmit(asByteArray(
            tds::packetize(tds::packet::TabularResult, w.bytes(), InitialPacketSize, 0)));
    };
    // A login-scoped fault of this stage matches the login being attempted.
    serve(FaultStage::Login, entry, respond, user);
}

void Session::handleBatch(const tds::Message& m) {
    std::string why;
    const auto text = tds::parseSqlBatch(m.payload, tdsVersion_, why);
    if (!text) {
        rejectInput(QString::fromStdString(why));
        return;
    }
    const QString sql = fromU16(*text);
    QJsonObject entry = baseEntry(QStringLiteral("batch"));
    entry.insert("statement", sql);
    serve(
        FaultStage::Query, entry, [this, sql] { runStatements(sql); }, std::nullopt, sql);
}

void Session::runStatements(const QString& text) {
    pendingOut_ = tds::TokenWriter(tdsVersion_);
    continueBatch(engine::runBatch(
        std::make_shared<const sql::Batch>(sql::parseBatch(text)), state_, host_.catalog(),
        [this](const engine::DatabaseEntry& db) { return host_.inUse(db); }, pendingOut_));
}

void Session::continueBatch(std::optional<engine::Pending> pending) {
    pending_ = std::move(pending);
    if (!pending_) {
        sendRows(pendingOut_);
        return;
    }
    host_.catalog().startRequest(pending_->request);
    pendingClock_.start();
    pendingTimer_.start(pending_->durationMs);
    if (pending_->progress) {
        sendPartial(); // what came before it in the batch
        progressTimer_.start(ProgressEveryMs);
    }
}

void Session::reportProgress() {
    if (!pending_ || !pending_->progress) {
        return;
    }
    const int duration = pending_->durationMs;
    const double percent =
        duration <= 0 ? 100.0
                      : std::min(100.0, 100.0 * static_cast<double>(pendingClock_.elapsed()) /
                                            static_cast<double>(duration));
    host_.catalog().setRequestPercent(state_.spid, percent);
    const bool goesOn = pending_->progress(percent, pendingOut_);
    sendPartial();
    if (!goesOn) {
        finishPending(); // stopped early: its end says why
    }
}

void Session::sendPartial() {
    const tds::Bytes tokens = pendingOut_.take();
    if (!tokens.empty()) {
        transmit(asByteArray(tds::packetize(tds::packet::TabularResult, tokens, packetSize_,
                                            static_cast<std::uint16_t>(state_.spid), 0, false)));
    }
}

void Session::finishPending() {
    pendingTimer_.stop();
    progressTimer_.stop();
    if (pending_->progress) {
        pending_->progress(100, pendingOut_);
    }
    host_.catalog().endRequest(state_.spid);
    const auto resume = std::move(pending_->resume);
    pending_.reset();
    continueBatch(resume(pendingOut_));
    if (!pending_ && endWhenDone_) {
        endWhenDone_ = false;
        emit finished(this);
    }
}

void Session::loseLink() {
    logRequest(QStringLiteral("linkLost"));
    muted_ = true;
    if (socket_) {
        socket_->abort();
    }
    if (stage_ != Stage::Closed) {
        stage_ = Stage::Closed;
        endConnection();
    }
}

namespace {
QString literalOf(const tds::RpcParameter& p) {
    if (const auto* n = std::get_if<std::int64_t>(&p.value)) {
        return QString::number(*n);
    }
    if (const auto* t = std::get_if<std::u16string>(&p.value)) {
        return sql::textLiteral(fromU16(*t));
    }
    return QStringLiteral("NULL");
}

// The statement of an sp_executesql call, with its parameters in place;
// none when the call does not give one as text.
std::optional<QString> executedStatement(const tds::RpcRequest& rpc) {
    const auto& params = rpc.parameters;
    const auto* statement =
        params.empty() ? nullptr : std::get_if<std::u16string>(&params[0].value);
    if (!statement) {
        return std::nullopt;
    }
    QStringList declared;
    if (params.size() > 1) {
        if (const auto* d = std::get_if<std::u16string>(&params[1].value)) {
            declared = sql::declaredParameters(fromU16(*d));
        }
    }
    sql::ParameterLiterals literals;
    for (std::size_t i = 2; i < params.size(); ++i) {
        // Values come by name, or in the order of the declarations.
        const QString name = !params[i].name.empty()
                                 ? fromU16(params[i].name)
                                 : declared.value(static_cast<qsizetype>(i - 2));
        literals.append({name, literalOf(params[i])});
    }
    return sql::withParameters(fromU16(*statement), literals);
}
} // namespace

void Session::handleRpc(const tds::Message& m) {
    std::string why;
    const auto rpc = tds::parseRpc(m.payload, tdsVersion_, why);
    if (!rpc) {
        rejectInput(QString::fromStdString(why));
        return;
    }
    const QString procedure = fromU16(rpc->procedure);
    QJsonObject entry = baseEntry(QStringLiteral("rpc"));
    entry.insert("procedure", procedure);
    tds::TokenWriter w(tdsVersion_);
    auto fail = [&](int number, const QString& text) {
        host_.log().write(entry);
        w.message(engine::serverMessage(number, 16, text));
        w.done(tds::done::Error, 0, 0);
        sendResult(w.take());
    };
    // Other procedures are not served; the client hears it as SQL Server says it.
    if (!engine::sameName(procedure, QStringLiteral("sp_executesql"))) {
        fail(2812, QStringLiteral("Could not find stored procedure '%1'.").arg(procedure));
        return;
    }
    if (rpc->unreadType) {
        fail(8009, QStringLiteral("The incoming tabular data stream (TDS) remote procedure call "
                                  "(RPC) protocol stream is incorrect. Parameter %1: Data type "
                                  "0x%2 is unknown.")
                       .arg(rpc->unreadType->first)
                       .arg(rpc->unreadType->second, 2, 16, QLatin1Char('0')));
        return;
    }
    const std::optional<QString> statement = executedStatement(*rpc);
    if (!statement) {
        fail(214, QStringLiteral("Procedure expects parameter '@statement' of type "
                                 "'ntext/nchar/nvarchar'."));
        return;
    }
    // Run as the batch it stands for, faults of the query stage included.
    entry.insert("statement", *statement);
    serve(
        FaultStage::Query, entry, [this, text = *statement] { runStatements(text); }, std::nullopt,
        *statement);
}

void Session::handleAttention() {
    logRequest(QStringLiteral("attention"));
    // A long statement given up: nothing of it happens (a backup leaves
    // its set incomplete).
    if (pending_) {
        pendingTimer_.stop();
        progressTimer_.stop();
        host_.catalog().endRequest(state_.spid);
        if (pending_->abandon) {
            pending_->abandon();
        }
        pending_.reset();
        pendingOut_ = tds::TokenWriter(tdsVersion_);
    }
    tds::TokenWriter w(tdsVersion_ ? tdsVersion_ : tds::version::V7_1);
    w.done(tds::done::Attention, 0, 0);
    sendResult(w.take());
}

void Session::transmit(const QByteArray& packets) {
    if (socket_ && !muted_) {
        socket_->write(tlsRecords_ ? tls_->encrypt(packets) : packets);
    }
}

void Session::sendResult(const tds::Bytes& tokens) {
    if (socket_) {
        transmit(asByteArray(packetized(tokens)));
    }
}

void Session::sendRows(const tds::TokenWriter& w) {
    const state::Fault* f = faults_.rowsFault(w, state_.login);
    if (!f) {
        sendResult(w.bytes());
        return;
    }
    logRequest(QStringLiteral("rows"),
               {{"fault", state::faultActionName(f->action)}, {"after", f->after}});
    faults_.cutRows(*f, w);
}

bool Session::isClosed() const { return !socket_ || stage_ == Stage::Closed; }

void Session::writeStream(const tds::Bytes& stream, std::size_t from, std::size_t to) {
    if (socket_) {
        transmit(asByteArray(stream, from, to));
    }
}

tds::Bytes Session::packetized(const tds::Bytes& tokens) const {
    return tds::packetize(tds::packet::TabularResult, tokens, packetSize_,
                          static_cast<std::uint16_t>(state_.spid));
}

bool Session::cancelWaiting() {
    readAvailable();
    return assembler_.nextType() == tds::packet::Attention;
}

void Session::answerCancelledQuery() {
    tds::TokenWriter w(tdsVersion_);
    w.done(tds::done::Error, 0, 0);
    sendResult(w.take());
}

void Session::rejectInput(const QString& why) {
    host_.log().write(QJsonObject{{"session", state_.spid},
                                  {"login", state_.login},
                                  {"database", state_.database},
                                  {"request", "bad"},
                                  {"error", why}});
    stage_ = Stage::Closed;
    if (socket_) {
        socket_->abort();
    }
    endConnection();
}

void Session::closeGracefully() {
    if (stage_ == Stage::Closed) {
        return;
    }
    stage_ = Stage::Closed;
    if (socket_) {
        socket_->disconnectFromHost(); // sends what is queued first
        if (socket_->state() == QAbstractSocket::UnconnectedState) {
            endConnection();
        }
    }
}

void Session::startTiming(const QString& kind) {
    if (host_.timing()) {
        timer_.start();
        timedKind_ = kind;
        timedBytes_ = 0;
    }
}

void Session::onBytesWritten(qint64 bytes) {
    if (!timer_.isValid()) {
        return;
    }
    timedBytes_ += bytes;
    if (socket_ && socket_->bytesToWrite() == 0) {
        std::fprintf(stderr, "timing session=%d packet_type=%s bytes=%lld elapsed_us=%lld\n",
                     state_.spid, qPrintable(timedKind_), static_cast<long long>(timedBytes_),
                     static_cast<long long>(timer_.nsecsElapsed() / 1000));
        std::fflush(stderr);
        timer_.invalidate();
    }
}

} // namespace server
