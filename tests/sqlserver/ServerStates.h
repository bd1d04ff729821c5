#pragma once
// States of the test server for the SQL Server tests: the default state with
// other user databases, another product version, extra logins or faults.

#include "TestServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

namespace testing_support {

inline const QString kSa = QStringLiteral("sa");
inline const QString kSaPassword = QStringLiteral("Secreto.1");

inline QJsonObject withDatabases(QJsonObject state, const QStringList& names) {
    QJsonArray databases;
    for (const QString& name : names) {
        databases.append(QJsonObject{{"name", name}});
    }
    state.insert("databases", databases);
    return state;
}

inline QJsonObject withVersion(QJsonObject state, const QString& version) {
    state.insert("version", version);
    return state;
}

inline QJsonObject withLogin(QJsonObject state, const QJsonObject& login) {
    QJsonArray logins = state.value("logins").toArray();
    logins.append(login);
    state.insert("logins", logins);
    return state;
}

inline QJsonObject withFault(QJsonObject state, const QJsonObject& fault) {
    QJsonArray faults = state.value("faults").toArray();
    faults.append(fault);
    state.insert("faults", faults);
    return state;
}

inline QJsonObject withDatabaseInUse(QJsonObject state, const QString& name) {
    QJsonArray databases = state.value("databases").toArray();
    databases.append(QJsonObject{{"name", name}, {"inUse", true}});
    state.insert("databases", databases);
    return state;
}

// The user database names the state holds, in its order.
inline QStringList userDatabases(const QJsonObject& state) {
    QStringList names;
    for (const QJsonValue& v : state.value("databases").toArray()) {
        names << v.toObject().value("name").toString();
    }
    return names;
}

} // namespace testing_support
