#pragma once
// frmIni: the tool's one window.  It collects the server name, login and
// password, loads the server's database names into a drop-down list and
// removes the database named there once the user has confirmed.  All the
// work happens in the Click handlers of its two buttons.  Every
// control carries its name as object name, and as accessible name what a
// sighted user reads for it.

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmIni final : public QWidget {
    Q_OBJECT
public:
    explicit frmIni(QWidget* parent = nullptr);

private:
    // The load command: checks the three connection fields, then fills the
    // list through CargaBBDD and selects its first name.
    void cmCargaBDSQL_Click();
    // The removal command: confirms, then removes the database named in the
    // list through BorraDBSQL and reports the outcome in the status line.
    void cmElimina_Click();

    void buildControls();
    void nameForScreenReaders();
    void setTabOrder();
    void centreOnScreen();

    QGroupBox* Frame3 = nullptr;
    QLabel* lblEstado = nullptr;
    QLabel* Label8 = nullptr;
    QPushButton* cmElimina = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPushButton* cmCargaBDSQL = nullptr;
    QComboBox* cmbBDSQL = nullptr;
    QLineEdit* txtPwdSQL = nullptr;
    QLineEdit* txtUserSQL = nullptr;
    QLineEdit* txtServerSQL = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label7 = nullptr;
};
