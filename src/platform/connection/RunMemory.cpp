#include "RunMemory.h"

#include <QHash>

#include <mutex>

namespace connection::memory {

namespace {

struct Memory {
    std::mutex mutex;
    QHash<QString, bool> strict;
    QHash<QString, QByteArray> pinned;
    Question question;
};

Memory& theMemory() {
    static Memory m;
    return m;
}

} // namespace

std::optional<bool> speaksStrict(const QString& key) {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    const auto found = m.strict.constFind(key);
    return found == m.strict.cend() ? std::nullopt : std::optional(*found);
}

void rememberStrict(const QString& key, bool speaks) {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    bool& known = m.strict[key];
    known = known || speaks;
}

std::optional<QByteArray> pinned(const QString& key) {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    const auto found = m.pinned.constFind(key);
    return found == m.pinned.cend() ? std::nullopt : std::optional(*found);
}

void pin(const QString& key, const QByteArray& der) {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    m.pinned.insert(key, der);
}

Question question() {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    return m.question;
}

void setQuestion(Question question) {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    m.question = std::move(question);
}

void forgetServersForTests() {
    Memory& m = theMemory();
    const std::lock_guard lock(m.mutex);
    m.strict.clear();
    m.pinned.clear();
}

} // namespace connection::memory
