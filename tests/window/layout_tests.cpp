// The window's controls against the table that lays them out: names, kinds,
// containers, captions, places, focus order, the password character, the
// colours and fonts, and the window's own size and place.
#include "RecordingUi.h"
#include "window/DialogFont.h"
#include "window/Twips.h"
#include "window/frmIni.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <string_view>
#include <utility>

namespace {

struct ControlRow {
    const char* name;
    const char* kind;
    const char* container;
    QString caption;
    int left, top, width, height;
};

const ControlRow kTable[] = {
    {"Frame3", "QGroupBox", "frmIni", "Estado", 120, 4080, 7575, 975},
    {"lblEstado", "QLabel", "Frame3", "", 1200, 360, 5655, 255},
    {"Label8", "QLabel", "Frame3", "Estado", 360, 360, 735, 255},
    {"cmElimina", "QPushButton", "frmIni", "Eliminar Base de Datos", 120, 5160, 7575, 735},
    {"Frame2", "QGroupBox", "frmIni", "SQL Server", 120, 1920, 7575, 2055},
    {"cmCargaBDSQL", "QPushButton", "Frame2", "&Carga Bases de Datos", 1200, 1320, 2295, 495},
    {"cmbBDSQL", "QComboBox", "Frame2", "", 5040, 360, 2295, 315},
    {"txtPwdSQL", "QLineEdit", "Frame2", "", 1200, 960, 2295, 285},
    {"txtUserSQL", "QLineEdit", "Frame2", "", 1200, 660, 2295, 285},
    {"txtServerSQL", "QLineEdit", "Frame2", "", 1200, 360, 2295, 285},
    {"Label6", "QLabel", "Frame2", "&Base de Datos", 3840, 360, 1215, 255},
    {"Label5", "QLabel", "Frame2", "C&ontraseña", 240, 990, 855, 255},
    {"Label4", "QLabel", "Frame2", "&Usuario", 240, 690, 855, 255},
    {"Label3", "QLabel", "Frame2", "&Servidor", 240, 390, 735, 255},
    {"Label2", "QLabel", "frmIni",
     "Esta herramienta elimina completamente la base de datos SQL Server.", 120, 1320, 7575, 375},
    {"Label1", "QLabel", "frmIni", "Utilizar esta herramienta con mucha precaución.", 120, 960,
     7575, 375},
    {"Label7", "QLabel", "frmIni", "Eliminar base de datos SQL Server", 120, 240, 7575, 495},
};

int pixels(int twips, qreal dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

QString captionOf(const QWidget* w) {
    if (auto* box = qobject_cast<const QGroupBox*>(w)) {
        return box->title();
    }
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<const QPushButton*>(w)) {
        return button->text();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        return edit->text();
    }
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        return combo->currentText();
    }
    return QStringLiteral("<unknown kind>");
}

class WindowLayout : public ::testing::Test {
protected:
    template <class W = QWidget> W* control(const char* name) {
        auto* w = form.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void showActive() {
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    qreal dpiX() const { return form.screen()->logicalDotsPerInchX(); }
    qreal dpiY() const { return form.screen()->logicalDotsPerInchY(); }

    // The program's default font, as main() installs it, before the window.
    struct DialogFont {
        DialogFont() { window::installDialogFont(); }
    } dialogFont;
    // Any message box fails the test instead of waiting for a user.
    testing_support::RecordingUi ui;
    frmIni form;
};

TEST_F(WindowLayout, EveryControlHasItsNameKindContainerCaptionAndPlace) {
    int controls = 0;
    for (const ControlRow& row : kTable) {
        SCOPED_TRACE(row.name);
        auto* w = control(row.name);
        ASSERT_NE(w, nullptr);
        ++controls;
        EXPECT_STREQ(w->metaObject()->className(), row.kind);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(row.container));
        EXPECT_EQ(captionOf(w), row.caption);
        const QRect expected(pixels(row.left, dpiX()), pixels(row.top, dpiY()),
                             pixels(row.width, dpiX()), pixels(row.height, dpiY()));
        EXPECT_EQ(w->geometry(), expected);
    }
    EXPECT_EQ(controls, 17);
}

TEST_F(WindowLayout, EveryControlIsNamedForScreenReadersAsASightedUserReadsIt) {
    const std::pair<const char*, const char*> named[] = {
        {"frmIni", "Tarvelo"},
        {"Frame3", "Estado"},
        {"lblEstado", ""}, // its text, empty at start
        {"Label8", "Estado"},
        {"cmElimina", "Eliminar Base de Datos"},
        {"Frame2", "SQL Server"},
        {"cmCargaBDSQL", "Carga Bases de Datos"},
        {"cmbBDSQL", "Base de Datos"},
        {"txtPwdSQL", "Contraseña"},
        {"txtUserSQL", "Usuario"},
        {"txtServerSQL", "Servidor"},
        {"Label6", "Base de Datos"},
        {"Label5", "Contraseña"},
        {"Label4", "Usuario"},
        {"Label3", "Servidor"},
        {"Label2", "Esta herramienta elimina completamente la base de datos SQL Server."},
        {"Label1", "Utilizar esta herramienta con mucha precaución."},
        {"Label7", "Eliminar base de datos SQL Server"},
    };
    for (const auto& [name, spoken] : named) {
        QWidget* w = std::string_view(name) == "frmIni" ? &form : control(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->accessibleName(), QString::fromUtf8(spoken)) << name;
    }
    const std::pair<const char*, const char*> buddies[] = {{"Label3", "txtServerSQL"},
                                                           {"Label4", "txtUserSQL"},
                                                           {"Label5", "txtPwdSQL"},
                                                           {"Label6", "cmbBDSQL"}};
    for (const auto& [label, field] : buddies) {
        EXPECT_EQ(control<QLabel>(label)->buddy(), control(field)) << label;
    }
}

// Every caption is whole in the face the control really resolves: on a
// system without the classic dialog font a wider stand-in cuts "Contraseña".
TEST_F(WindowLayout, EveryCaptionFitsItsControlInTheFontItResolves) {
    for (const ControlRow& row : kTable) {
        QWidget* w = control(row.name);
        ASSERT_NE(w, nullptr);
        const QString caption = QString(row.caption).remove(u'&');
        if (caption.isEmpty()) {
            continue;
        }
        const QFontMetrics metrics(w->font());
        int room = w->contentsRect().width();
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            room -= 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        } else if (qobject_cast<QGroupBox*>(w)) {
            // The title sits inside the frame's rounded corners.
            room -= 2 * metrics.averageCharWidth();
        }
        EXPECT_LE(metrics.horizontalAdvance(caption), room)
            << row.name << " in " << QFontInfo(w->font()).family().toStdString();
        EXPECT_LE(metrics.height(), w->height()) << row.name;
    }
}

TEST_F(WindowLayout, WindowIsTitledFixedInSizeAndCentred) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tarvelo"));
    // An icon of its own, also where the installed one is not found.
    EXPECT_FALSE(form.windowIcon().pixmap(32).isNull());
    const QSize client(pixels(7785, dpiX()), pixels(6000, dpiY()));
    EXPECT_EQ(form.size(), client);
    EXPECT_EQ(form.minimumSize(), client);
    EXPECT_EQ(form.maximumSize(), client);
    const QPoint screenCentre = form.screen()->availableGeometry().center();
    EXPECT_LE((form.geometry().center() - screenCentre).manhattanLength(), 2);
}

TEST_F(WindowLayout, StartsEmptyWithBothButtonsEnabledAndFocusOnTheServer) {
    for (const char* name : {"txtServerSQL", "txtUserSQL", "txtPwdSQL"}) {
        EXPECT_TRUE(control<QLineEdit>(name)->text().isEmpty()) << name;
    }
    EXPECT_EQ(control<QComboBox>("cmbBDSQL")->count(), 0);
    EXPECT_TRUE(control<QComboBox>("cmbBDSQL")->isEditable());
    EXPECT_TRUE(control<QLabel>("lblEstado")->text().isEmpty());
    EXPECT_TRUE(control("cmElimina")->isEnabled());
    EXPECT_TRUE(control("cmCargaBDSQL")->isEnabled());
    showActive();
    EXPECT_EQ(QApplication::focusWidget(), control("txtServerSQL"));
}

TEST_F(WindowLayout, TabMovesServerLoginPasswordLoadListRemovalAndRoundAgain) {
    showActive();
    const char* order[] = {"txtUserSQL", "txtPwdSQL", "cmCargaBDSQL",
                           "cmbBDSQL",   "cmElimina", "txtServerSQL"};
    for (const char* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        // The combo box's text field is part of the combo box.
        if (focused && focused->parentWidget() == control("cmbBDSQL")) {
            focused = focused->parentWidget();
        }
        ASSERT_NE(focused, nullptr);
        EXPECT_EQ(focused->objectName(), QString::fromLatin1(next));
    }
}

TEST_F(WindowLayout, LabelsAndFramesNeverTakeTheFocus) {
    for (const ControlRow& row : kTable) {
        const QString kind = QString::fromLatin1(row.kind);
        if (kind == "QLabel" || kind == "QGroupBox") {
            EXPECT_EQ(control(row.name)->focusPolicy(), Qt::NoFocus) << row.name;
        }
    }
}

TEST_F(WindowLayout, AltCRunsTheLoadCommand) {
    showActive();
    ui.allow(1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
    // A mnemonic presses the button visibly, so the click comes a moment later;
    // with the fields empty the command answers with its warning.
    EXPECT_TRUE(QTest::qWaitFor([&] { return ui.messages().size() == 1; }, 2000));
    EXPECT_EQ(ui.messages().at(0).style, 48);
}

TEST_F(WindowLayout, AltAndACaptionsLetterMovesToItsField) {
    showActive();
    const std::pair<Qt::Key, const char*> accelerators[] = {{Qt::Key_U, "txtUserSQL"},
                                                            {Qt::Key_O, "txtPwdSQL"},
                                                            {Qt::Key_B, "cmbBDSQL"},
                                                            {Qt::Key_S, "txtServerSQL"}};
    for (const auto& [key, field] : accelerators) {
        QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
        QWidget* focused = QApplication::focusWidget();
        if (focused && focused->parentWidget() == control("cmbBDSQL")) {
            focused = focused->parentWidget();
        }
        EXPECT_EQ(focused, control(field)) << field;
    }
}

// Enter in a connection field runs the load command; in the list it does not
// (it must never come near a removal).
TEST_F(WindowLayout, EnterInAConnectionFieldLoads) {
    showActive();
    for (const char* field : {"txtServerSQL", "txtUserSQL", "txtPwdSQL", "cmbBDSQL"}) {
        ui.clear();
        const bool loads = std::string_view(field) != "cmbBDSQL";
        ui.allow(loads ? 1 : 0);
        control(field)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(ui.messages().size(), loads ? 1u : 0u) << field;
    }
}

TEST_F(WindowLayout, PasswordIsMaskedWithAsterisks) {
    auto* pwd = control<QLineEdit>("txtPwdSQL");
    showActive();
    pwd->setFocus();
    QTest::keyClicks(pwd, QStringLiteral("S3;{1}"));
    EXPECT_EQ(pwd->text(), QStringLiteral("S3;{1}"));
    EXPECT_EQ(pwd->displayText(), QStringLiteral("******"));
    // The other fields show what is typed.
    auto* user = control<QLineEdit>("txtUserSQL");
    user->setText(QStringLiteral("sa"));
    EXPECT_EQ(user->displayText(), QStringLiteral("sa"));
}

TEST_F(WindowLayout, WarningsAreRedAndTheTitleHasTheHighlightColour) {
    for (const char* name : {"Label1", "Label2"}) {
        auto* label = control<QLabel>(name);
        EXPECT_EQ(label->palette().color(label->foregroundRole()), QColor(255, 0, 0)) << name;
    }
    auto* title = control<QLabel>("Label7");
    EXPECT_EQ(title->palette().color(title->foregroundRole()),
              QApplication::palette().color(QPalette::Highlight));
    auto* other = control<QLabel>("Label3");
    EXPECT_EQ(other->palette().color(other->foregroundRole()),
              QApplication::palette().color(QPalette::WindowText));
}

TEST_F(WindowLayout, WarningsAndTitleAskForMsSansSerifAtTheirSizes) {
    const std::pair<const char*, qreal> sized[] = {
        {"Label1", 9.75}, {"Label2", 9.75}, {"Label7", 18.0}};
    for (const auto& [name, points] : sized) {
        const QFont font = control<QLabel>(name)->font();
        EXPECT_EQ(font.family(), QStringLiteral("MS Sans Serif")) << name;
        EXPECT_DOUBLE_EQ(font.pointSizeF(), points) << name;
        EXPECT_EQ(font.weight(), QFont::Normal) << name;
        EXPECT_FALSE(font.italic()) << name;
        // Where the face is missing the system's fallback keeps the size.
        EXPECT_FALSE(QFontInfo(font).family().isEmpty()) << name;
        EXPECT_NEAR(QFontInfo(font).pointSizeF(), points, 0.5) << name;
    }
    EXPECT_EQ(control<QLabel>("Label3")->font(), QApplication::font());
}

TEST_F(WindowLayout, ListKeepsWhatIsTypedWithoutCompletingOrAddingIt) {
    auto* combo = control<QComboBox>("cmbBDSQL");
    combo->addItems({QStringLiteral("Ventas"), QStringLiteral("Nóminas")});
    showActive();
    combo->setFocus();
    combo->clearEditText();
    QTest::keyClicks(combo, QStringLiteral("ven"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("ven"));
    QTest::keyClick(combo, Qt::Key_Return);
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText(), QStringLiteral("ven"));
}

TEST(Twips, FifteenTwipsAPixelAt96DotsPerInchAndScaledAbove) {
    EXPECT_EQ(window::twipsToPixels(7785, 96), 519);
    EXPECT_EQ(window::twipsToPixels(6000, 96), 400);
    EXPECT_EQ(window::twipsToPixels(7785, 144), 779); // 778.5 rounds up
    EXPECT_EQ(window::twipsToPixels(255, 120), 21);   // 21.25
    EXPECT_EQ(window::twipsToPixels(0, 192), 0);
    EXPECT_EQ(window::twipsToPixels({120, 4080, 7575, 975}, 192, 96), QRect(16, 272, 1010, 65));
}

} // namespace
