// The window's two commands: loading the database names and removing the
// database named in the list.  Their database procedures run off the UI
// thread while the window waits in a local event loop.
#include "frmIni.h"

#include "ComboBoxList.h"
#include "platform/ui/Services.h"
#include "sqlserver/Removal.h"
#include "sqlserver/RemovalTexts.h"
#include "sqlserver/Varios.h"
#include "text/VisibleName.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace {

const QString kMissingConnectionData =
    QStringLiteral("Debe rellenar los datos necesarios para realizar la conexión con el servidor "
                   "SQL Server.\r\n(Servidor, Usuario, Contraseña)");
const QString kLoading = QStringLiteral("Cargando bases de datos...");
const QString kNoDatabaseChosen = QStringLiteral("Debe seleccionar la base de datos a eliminar.");
const QString kReading = QStringLiteral("Consultando la base de datos...");
const QString kRemoving = QStringLiteral("Eliminando base de datos...");
const QString kRemoved = QStringLiteral("Base de datos eliminada correctamente.");
const QString kRemovalFailed =
    QStringLiteral("Se han producido errores durante la eliminación de la base de datos.");
const QString kRemovalCannotStop =
    QStringLiteral("La eliminación de la base de datos está en curso y no se puede interrumpir."
                   "\r\nLa ventana podrá cerrarse cuando termine.");

// The names are shown with their invisible characters made visible, so
// that what the user confirms reads as exactly the database that will be
// removed, and the server it will be removed from; below them, what the
// server knows of the database, its last backup first.
QString confirmation(const QString& sBaseDatos, const QString& sServidor,
                     const DatabaseFacts& facts, const QString& backupLine) {
    QString text = QStringLiteral("¿Está seguro que desea eliminar la base de datos '") +
                   text::visibleName(sBaseDatos) +
                   QStringLiteral("'?\r\nLa base de datos se eliminará y será irreversible.") +
                   QStringLiteral("\r\nServidor: '") + text::visibleName(sServidor) + u'\'';
    for (const QString& line : confirmationLines(facts, backupLine)) {
        text += QStringLiteral("\r\n") + line;
    }
    return text;
}

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

void frmIni::cmCargaBDSQL_Click() {
    if (refusesCommand(cmCargaBDSQL)) {
        return;
    }
    // Blanks count as filled: nothing is trimmed.
    if (txtServerSQL->text().isEmpty() || txtUserSQL->text().isEmpty() ||
        txtPwdSQL->text().isEmpty()) {
        ui::MsgBox(kMissingConnectionData, ui::style::Warning);
        return;
    }
    ui::setMousePointer(ui::pointer::Hourglass);
    setStatus(kLoading);
    // Paints the status line before the work starts.
    ui::doEvents();

    // The work owns what it uses: abandoned, it may outlive this call.
    auto list = std::make_shared<window::UiThreadList>(*cmbBDSQL);
    const bool loaded = runWhileWaiting(
        Work::Loading,
        [list, sServidor = txtServerSQL->text(), sUsuario = txtUserSQL->text(),
         sPassword = txtPwdSQL->text()] { CargaBBDD(*list, sServidor, sUsuario, sPassword); });
    if (!loaded) {
        // Abandoned: as after a failed load, nothing of it stays listed.
        window::ComboBoxList(*cmbBDSQL).Clear();
    }

    setStatus(QString());
    ui::doEvents();
    ui::setMousePointer(ui::pointer::Arrow);
    if (cmbBDSQL->count() > 0) {
        cmbBDSQL->setCurrentIndex(0);
    }
}

void frmIni::cmElimina_Click() {
    if (refusesCommand(cmElimina)) {
        return;
    }
    const QString sBaseDatos = cmbBDSQL->currentText();
    if (sBaseDatos.isEmpty()) {
        ui::MsgBox(kNoDatabaseChosen, ui::style::Information);
        return;
    }
    // The removal goes to the server the confirmation names, with the
    // login that read what it shows.
    const QString sServidor = txtServerSQL->text();
    const QString sUsuario = txtUserSQL->text();
    const QString sPassword = txtPwdSQL->text();

    // Reading changes nothing, so it can be abandoned like a load; the work
    // owns what it uses.
    setStatus(kReading);
    auto removal = std::make_shared<Removal>(sServidor, sBaseDatos, sUsuario, sPassword);
    auto outcome = std::make_shared<Removal::Outcome>(Removal::Outcome::Failed);
    const bool read =
        runWhileWaiting(Work::Reading, [removal, outcome] { *outcome = removal->prepare(); });
    setStatus(QString());
    // Abandoned, or blocked by what the user has just read: nothing was
    // tried, and the button stays for a removal once the obstacle is gone.
    if (!read || *outcome == Removal::Outcome::Blocked) {
        return;
    }
    if (*outcome == Removal::Outcome::Failed) {
        endRemoval(false);
        return;
    }
    // Where the server can write a final backup, the confirmation offers
    // it in a check box, proposed unless a recent backup exists.
    const BackupOffer& offer = removal->backupOffer();
    const QString question = confirmation(sBaseDatos, sServidor, removal->facts(), offer.line);
    bool finalBackup = offer.proposed;
    const int answer = offer.possible ? ui::MsgBox(question, ui::style::YesNoWarningDefaultNo,
                                                   offer.option, finalBackup)
                                      : ui::MsgBox(question, ui::style::YesNoWarningDefaultNo);
    if (answer != ui::answer::Yes) {
        return;
    }
    // One confirmed removal per run, whatever its outcome.
    cmElimina->setEnabled(false);
    setStatus(kRemoving);

    // A removal cannot be abandoned, so the work may use this call's values;
    // what it waits for shows in the status line.
    bool removed = false;
    runWhileWaiting(Work::Removing, [&] {
        removed = removal->drop([this](const QString& text) { setStatus(text); },
                                offer.possible && finalBackup);
    });
    endRemoval(removed);
}

void frmIni::endRemoval(bool removed) {
    cmElimina->setEnabled(false);
    setStatus(removed ? kRemoved : kRemovalFailed);
    // The disabled button lost the focus; it goes to the list, beside the
    // outcome.
    cmbBDSQL->setFocus(Qt::OtherFocusReason);
}

bool frmIni::refusesCommand(QPushButton* button) {
    const bool pressedDuringWork = pressedDuringWork_.remove(button);
    return working_ != Work::None || pressedDuringWork;
}

bool frmIni::runWhileWaiting(Work kind, std::function<void()> work) {
    ui::OffUiThreadCall call(std::move(work));
    working_ = kind;
    fieldsAtWorkStart_ = {{txtServerSQL, txtServerSQL->text()}, {txtUserSQL, txtUserSQL->text()}};
    if (kind != Work::Removing) {
        abandon_ = [&call] { call.abandon(); };
    }
    qApp->installEventFilter(this);
    ui::services().setWorking(true);
    const bool ended = call.wait();
    ui::services().setWorking(false);
    qApp->removeEventFilter(this);
    abandon_ = nullptr;
    working_ = Work::None;
    return ended;
}

void frmIni::abandonLoad() {
    if (abandon_) {
        abandon_();
    }
}

void frmIni::closeEvent(QCloseEvent* event) {
    if (working_ == Work::Removing) {
        event->ignore();
        ui::MsgBox(kRemovalCannotStop, ui::style::Warning);
        return;
    }
    abandonLoad();
    event->accept();
}

bool frmIni::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this || !isInput(event->type())) {
        return false;
    }
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        abandonLoad();
    }
    return true;
}

void frmIni::setStatus(const QString& text) {
    lblEstado->setText(text);
    // A screen reader hears the outcome: the name changes with the text.
    lblEstado->setAccessibleName(text);
}

void frmIni::connectionFieldChanged(QLineEdit* field) {
    if (working_ == Work::None) {
        forgetLoadedList();
        return;
    }
    const QSignalBlocker quiet(field);
    field->setText(fieldsAtWorkStart_.value(field));
}

void frmIni::forgetLoadedList() { window::ComboBoxList(*cmbBDSQL).Clear(); }
