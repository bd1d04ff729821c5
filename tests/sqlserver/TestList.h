#pragma once
// A database list for tests: what CargaBBDD fills, with its text field.

#include "sqlserver/Varios.h"

#include <QStringList>

namespace testing_support {

class TestList final : public ListaBBDD {
public:
    void Clear() override {
        items.clear();
        text.clear();
        ++clears;
    }
    void AddItem(const QString& sNombre) override { items << sNombre; }
    int ListCount() const override { return static_cast<int>(items.size()); }

    QStringList items;
    QString text;
    int clears = 0;
};

} // namespace testing_support
