#include "FreeTdsConf.h"

#include "Sentences.h"

#include "platform/odbc/DriverVersion.h"
#include "platform/odbc/Odbc.h"

#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace connection {

namespace {

// FreeTDS reads its files with fgets() into 256 bytes.
constexpr qsizetype kChunk = 255;

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Text with leading and trailing blanks dropped and inner runs made one
// blank, as FreeTDS keeps option names and values.
QByteArray collapsed(const char* from, const char* to, bool lower) {
    QByteArray out;
    char previous = 0;
    for (const char* p = from; p < to; ++p) {
        if (!isSpace(*p)) {
            if (isSpace(previous) && !out.isEmpty()) {
                out += ' ';
            }
            out += lower ? static_cast<char>(std::tolower(static_cast<unsigned char>(*p))) : *p;
        }
        previous = *p;
    }
    return out;
}

// strcasecmp() in the C locale: ASCII letters only.
bool sameName(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) {
            return false;
        }
    }
    return true;
}

void apply(const QByteArray& option, const QByteArray& value, FreeTdsSection& settings) {
    settings.lines.append({option, value});
    const QString text = QString::fromUtf8(value);
    if (option == "host") {
        settings.host = text;
    } else if (option == "port") {
        if (const int port = std::atoi(value.constData())) {
            settings.port = port;
        }
    } else if (option == "instance") {
        settings.instance = text;
    } else if (option == "ca file") {
        settings.caFile = text;
    } else if (option == "crl file") {
        settings.crlFile = text;
    } else if (option == "certificate hostname") {
        settings.certificateHostname = text;
    } else if (option == "encryption") {
        settings.encryption = text;
    } else if (option == "check certificate hostname") {
        for (const char* yes : {"yes", "on", "true"}) {
            if (sameName(value, yes)) {
                settings.checkCertificateHostname = true;
            }
        }
        for (const char* no : {"no", "off", "false"}) {
            if (sameName(value, no)) {
                settings.checkCertificateHostname = false;
            }
        }
    }
}

// One pass over the file for one section name; true when it is there.
bool readSection(const QByteArray& text, const QByteArray& section, FreeTdsSection& settings) {
    bool inside = false;
    bool found = false;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = at;
        while (end < text.size() && end - at < kChunk && text[end] != '\n') {
            ++end;
        }
        if (end < text.size() && end - at < kChunk) {
            ++end; // the newline belongs to this line
        }
        const char* s = text.constData() + at;
        const char* stop = text.constData() + end;
        at = end;
        // fgets() stops a line at a NUL as a C string does.
        for (const char* p = s; p < stop; ++p) {
            if (*p == '\0') {
                stop = p;
            }
        }
        while (s < stop && isSpace(*s)) {
            ++s;
        }
        if (s < stop && (*s == ';' || *s == '#')) {
            continue;
        }
        const char* equals = s;
        while (equals < stop && *equals != '=') {
            ++equals;
        }
        const QByteArray option = collapsed(s, equals, true);
        if (option.isEmpty()) {
            continue;
        }
        const char* value = equals < stop ? equals + 1 : stop;
        const char* valueEnd = value;
        while (valueEnd < stop && *valueEnd != ';' && *valueEnd != '#') {
            ++valueEnd;
        }
        if (option.startsWith('[')) {
            const qsizetype close = option.indexOf(']');
            inside = sameName(option.mid(1, close < 0 ? -1 : close - 1), section);
            found = found || inside;
        } else if (inside) {
            apply(option, collapsed(value, valueEnd, false), settings);
        }
    }
    return found;
}

QString accountHome() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir) {
        return {};
    }
    return QString::fromLocal8Bit(found->pw_dir);
}

QStringList configurationFiles() {
    QStringList files;
    if (const auto own = userFreeTdsConf()) {
        files << *own;
    }
    if (qEnvironmentVariableIsSet("FREETDS")) {
        files << qEnvironmentVariable("FREETDS") + QStringLiteral("/etc/freetds.conf");
    }
    if (const QString home = accountHome(); !home.isEmpty()) {
        if (odbc::loadedDriverIsAtLeast15()) {
            files << home + QStringLiteral("/.config/freetds.conf");
        }
        files << home + QStringLiteral("/.freetds.conf");
    }
    files << QStringLiteral("/etc/freetds/freetds.conf");
    return files;
}

bool isNullDevice(const struct stat& info) {
    struct stat null {};
    return S_ISCHR(info.st_mode) && stat("/dev/null", &null) == 0 && null.st_rdev == info.st_rdev;
}

// The file's text, or none when FreeTDS could not open it either.  Opening
// does not wait: a pipe with no writer would hold the open for ever.
std::optional<QByteArray> fileText(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        name.isEmpty() ? -1 : ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    const bool readable = fstat(fd, &info) == 0 &&
                          (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || isNullDevice(info));
    QByteArray text;
    if (readable && S_ISREG(info.st_mode)) {
        char buffer[8192];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
            if (n < 0) {
                break;
            }
            text.append(buffer, n);
        }
    }
    ::close(fd);
    if (!readable) {
        throw odbc::Error(say::confNotARegularFile(path));
    }
    return text;
}

} // namespace

bool readFreeTdsConf(const QByteArray& text, const QString& server, FreeTdsSection& settings) {
    readSection(text, "global", settings);
    const QByteArray name = server.toUtf8();
    return !name.isEmpty() && readSection(text, name, settings);
}

std::optional<FreeTdsSection> freeTdsSection(const QString& server) {
    FreeTdsSection settings;
    settings.name = server.trimmed();
    for (const QString& path : configurationFiles()) {
        const std::optional<QByteArray> text = fileText(path);
        if (text && readFreeTdsConf(*text, settings.name, settings)) {
            settings.file = path;
            return settings;
        }
    }
    return std::nullopt;
}

} // namespace connection
