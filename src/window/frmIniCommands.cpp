// The window's two commands: loading the database names and removing the
// database named in the list.
#include "frmIni.h"

#include "ComboBoxList.h"
#include "VisibleName.h"
#include "platform/ui/Services.h"
#include "sqlserver/Varios.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kMissingConnectionData =
    QStringLiteral("Debe rellenar los datos necesarios para realizar la conexión con el servidor "
                   "SQL Server.\r\n(Servidor, Usuario, Contraseña)");
const QString kLoading = QStringLiteral("Cargando bases de datos...");
const QString kNoDatabaseChosen = QStringLiteral("Debe seleccionar la base de datos a eliminar.");
const QString kRemoving = QStringLiteral("Eliminando base de datos...");
const QString kRemoved = QStringLiteral("Base de datos eliminada correctamente.");
const QString kRemovalFailed =
    QStringLiteral("Se han producido errores durante la eliminación de la base de datos.");

// The name is shown with its invisible characters made visible, so that
// what the user confirms reads as exactly the name that will be removed.
QString confirmation(const QString& sBaseDatos) {
    return QStringLiteral("¿Está seguro que desea eliminar la base de datos '") +
           window::visibleName(sBaseDatos) +
           QStringLiteral("'?\r\nLa base de datos se eliminará y será irreversible.");
}

} // namespace

void frmIni::cmCargaBDSQL_Click() {
    // Blanks count as filled: nothing is trimmed.
    if (txtServerSQL->text().isEmpty() || txtUserSQL->text().isEmpty() ||
        txtPwdSQL->text().isEmpty()) {
        ui::MsgBox(kMissingConnectionData, ui::style::Warning);
        return;
    }
    ui::setMousePointer(ui::pointer::Hourglass);
    lblEstado->setText(kLoading);
    // Paints the status line before the blocking work.
    ui::doEvents();

    window::ComboBoxList list(*cmbBDSQL);
    CargaBBDD(list, txtServerSQL->text(), txtUserSQL->text(), txtPwdSQL->text());

    lblEstado->setText(QString());
    ui::doEvents();
    ui::setMousePointer(ui::pointer::Arrow);
    if (list.ListCount() > 0) {
        cmbBDSQL->setCurrentIndex(0);
    }
}

void frmIni::cmElimina_Click() {
    const QString sBaseDatos = cmbBDSQL->currentText();
    if (sBaseDatos.isEmpty()) {
        ui::MsgBox(kNoDatabaseChosen, ui::style::Information);
        return;
    }
    if (ui::MsgBox(confirmation(sBaseDatos), ui::style::YesNoWarningDefaultNo) != ui::answer::Yes) {
        return;
    }
    // One confirmed removal per run, whatever its outcome.
    cmElimina->setEnabled(false);
    lblEstado->setText(kRemoving);

    // The name removed is the one the user confirmed.
    const bool removed =
        BorraDBSQL(txtServerSQL->text(), sBaseDatos, txtUserSQL->text(), txtPwdSQL->text());
    lblEstado->setText(removed ? kRemoved : kRemovalFailed);
}
