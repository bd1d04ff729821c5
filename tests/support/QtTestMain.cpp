// gtest main for tests that need a Qt application object (widgets, the
// regional settings, events).  Runs on the offscreen platform unless told else.
#include "platform/connection/Connect.h"
#include "platform/connection/PrivateConf.h"
#include "platform/runtime/RegionalSettings.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // FREETDSCONF is set while the program has one thread.
    connection::usePrivateFreeTdsConf();
    QApplication app(argc, argv);
    // Spanish regional settings unless a test pins others: no outcome
    // depends on the machine's LANG.
    const auto regional = rt::ScopedRegionalSettings::spanish();
    // No Kerberos configuration or ticket of the machine's reaches a test:
    // integrated logins find none unless a test sets up its own realm.
    QTemporaryDir noKerberos;
    qputenv("KRB5_CONFIG", QFile::encodeName(noKerberos.filePath(QStringLiteral("krb5.conf"))));
    qputenv("KRB5CCNAME", "FILE:" + QFile::encodeName(noKerberos.filePath(QStringLiteral("cc"))));
    // The test server's certificates are its own: the tests answer Yes to the
    // certificate question unless a test asks its own.
    connection::setCertificateQuestion(
        [](const connection::UnverifiedCertificate&) { return true; });
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    connection::removePrivateFreeTdsConf();
    return status;
}
