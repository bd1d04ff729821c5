#pragma once
// frmIni: the tool's one window.  It collects the server name, login and
// password, loads the server's database names into a drop-down list and
// removes the database named there once the user has confirmed.  All the
// work happens in the Click handlers of its two buttons; their database
// procedures run off the UI thread while the window waits, repaints and
// ignores input to its controls.  Every control carries its name as object
// name, and as accessible name what a sighted user reads for it (the status
// line: its text).

#include <QHash>
#include <QSet>
#include <QWidget>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmIni final : public QWidget {
    Q_OBJECT
public:
    explicit frmIni(QWidget* parent = nullptr);

protected:
    // While a load runs, closing abandons it; while a removal runs, the
    // window stays and says why.
    void closeEvent(QCloseEvent* event) override;
    // While a command's work runs: input to the window's controls is
    // ignored, and Esc abandons a load.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Work { None, Loading, Reading, Removing };

    // The load command: checks the three connection fields, then fills the
    // list through CargaBBDD and selects its first name.
    void cmCargaBDSQL_Click();
    // The removal command: reads what the server knows of the database
    // named in the list, confirms, then removes it through BorraDBSQL and
    // reports the outcome in the status line.
    void cmElimina_Click();
    // Whether a command must not start: work runs, or the button was
    // pressed while it ran (an accessible action's click comes later).
    bool refusesCommand(QPushButton* button);
    // The removal's end: the button off for good, the outcome shown.
    void endRemoval(bool removed);
    // Runs the work off the UI thread and waits for it; false when the user
    // abandoned it.
    bool runWhileWaiting(Work kind, std::function<void()> work);
    void abandonLoad();
    void setStatus(const QString& text);
    // A list loaded from one server never serves another: changing the
    // server or the login empties it.  While work runs, a change that came
    // around the input filter is undone instead.
    void connectionFieldChanged(QLineEdit* field);
    void forgetLoadedList();

    void buildControls();
    void nameForScreenReaders();
    void setTabOrder();
    void centreOnScreen();

    Work working_ = Work::None;
    std::function<void()> abandon_;
    QSet<QPushButton*> pressedDuringWork_;
    QHash<QLineEdit*, QString> fieldsAtWorkStart_;

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
