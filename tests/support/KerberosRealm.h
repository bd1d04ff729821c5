#pragma once
// A throwaway MIT Kerberos realm on loopback for tests of integrated
// logins: a KDC with a database in a temporary folder, a user principal,
// and service principals with a keytab for the test server.  While it
// lives, this process's KRB5_CONFIG and KRB5CCNAME point into that folder
// (the machine's own Kerberos configuration is never read or touched);
// both are restored, the KDC stopped and the folder removed when it goes.
//
//   KerberosRealm realm;                         // user alicia, no ticket yet
//   realm.addService(QStringLiteral("MSSQLSvc/host:1433"));
//   realm.kinit();                               // a ticket for alicia
//
// Failures throw std::runtime_error saying what did not work.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace testing_support {

class KerberosRealm {
public:
    static constexpr const char* kRealm = "TARVELO.TEST";
    static constexpr const char* kUser = "alicia";

    KerberosRealm();
    ~KerberosRealm();
    KerberosRealm(const KerberosRealm&) = delete;
    KerberosRealm& operator=(const KerberosRealm&) = delete;

    // Adds a service principal and its keys to keytab().
    void addService(const QString& principal);
    // Gets a ticket for the user into this realm's credentials cache.
    void kinit();
    QString keytab() const;

private:
    // This process's environment, with the KDC's own configuration file.
    QProcessEnvironment environment() const;
    void run(const QString& program, const QStringList& arguments, const QByteArray& input = {});
    void write(const QString& name, const QByteArray& text);

    QTemporaryDir dir_;
    std::unique_ptr<QProcess> kdc_;
    QByteArray savedConfig_;
    QByteArray savedCache_;
};

// The machine's name as FreeTDS puts it in a service principal: its host
// name, canonicalised when that has no domain.
QString kerberosHostName();

// The loopback address (127.x.y.z) that kerberosHostName() resolves to, if
// any: a login to this machine by its name goes there, so a test server for
// such logins must listen on it.
std::optional<QString> kerberosHostAddress();

} // namespace testing_support
