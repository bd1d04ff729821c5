// The program removes its private FreeTDS folder when a signal ends it, as
// when its window is closed, and clears at start the folders that killed
// runs left behind.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// A process number that no process has: a child that has ended.
pid_t endedProcess() {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(0);
    }
    waitpid(pid, nullptr, 0);
    return pid;
}

void makeFolder(const QDir& base, const QString& name, pid_t owner) {
    base.mkdir(name);
    QFile file(base.filePath(name + QStringLiteral("/owner")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::number(owner));
}

// The folder of the running program: the one not made by the test.
QStringList ownFolders(const QDir& base) {
    QStringList found = base.entryList({QStringLiteral("tarvelo-*")}, QDir::Dirs);
    found.removeAll(QStringLiteral("tarvelo-muerto"));
    found.removeAll(QStringLiteral("tarvelo-vivo"));
    return found;
}

TEST(ProgramEnd, ASignalRemovesThePrivateFolderAndAStartClearsStaleOnes) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        QTemporaryDir runtime;
        const QDir base(runtime.path());
        makeFolder(base, QStringLiteral("tarvelo-muerto"), endedProcess());
        makeFolder(base, QStringLiteral("tarvelo-vivo"), getpid());
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(TARVELO_PROGRAM_PATH), {});
        ASSERT_TRUE(program.waitForStarted(10000));
        QElapsedTimer waited;
        waited.start();
        while (ownFolders(base).isEmpty() && waited.elapsed() < 10000) {
            QThread::msleep(20);
        }
        ASSERT_EQ(ownFolders(base).size(), 1) << "the program made no folder in 10 s";
        EXPECT_FALSE(base.exists(QStringLiteral("tarvelo-muerto")));
        EXPECT_TRUE(base.exists(QStringLiteral("tarvelo-vivo")));
        // The window is up once its folder is: the signal ends its event loop.
        QThread::msleep(300);
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ownFolders(base), QStringList());
    }
}

} // namespace
