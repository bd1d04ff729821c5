// The drop-down list as CargaBBDD sees it.
#include "window/ComboBoxList.h"

#include <QComboBox>

#include <gtest/gtest.h>

namespace {

class DatabaseList : public ::testing::Test {
protected:
    DatabaseList() { combo.setEditable(true); }
    QComboBox combo;
    window::ComboBoxList list{combo};
};

TEST_F(DatabaseList, AddsAtTheEndWithoutSelectingOrTouchingTheText) {
    combo.setEditText(QStringLiteral("tecleado"));
    list.AddItem(QStringLiteral("Ventas"));
    list.AddItem(QStringLiteral("Almacén"));
    EXPECT_EQ(list.ListCount(), 2);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("Ventas"));
    EXPECT_EQ(combo.itemText(1), QStringLiteral("Almacén"));
    EXPECT_EQ(combo.currentIndex(), -1);
    EXPECT_EQ(combo.currentText(), QStringLiteral("tecleado"));
}

TEST_F(DatabaseList, AddingKeepsAnEntryAlreadySelected) {
    list.AddItem(QStringLiteral("Ventas"));
    combo.setCurrentIndex(0);
    list.AddItem(QStringLiteral("Compras"));
    EXPECT_EQ(combo.currentIndex(), 0);
    EXPECT_EQ(combo.currentText(), QStringLiteral("Ventas"));
}

TEST_F(DatabaseList, ClearRemovesEveryEntryAndEmptiesTheText) {
    list.AddItem(QStringLiteral("Ventas"));
    list.AddItem(QStringLiteral("Compras"));
    combo.setCurrentIndex(1);
    list.Clear();
    EXPECT_EQ(list.ListCount(), 0);
    EXPECT_TRUE(combo.currentText().isEmpty());
    combo.setEditText(QStringLiteral("tecleado"));
    list.Clear();
    EXPECT_TRUE(combo.currentText().isEmpty());
}

} // namespace
