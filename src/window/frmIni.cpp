#include "frmIni.h"

#include "DialogFont.h"
#include "PasswordStyle.h"
#include "Twips.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include <utility>

using window::TwipRect;

namespace {

constexpr TwipRect kClientArea{0, 0, 7785, 6000};

// Creates a control in its container at a place given in twips, named as
// the window description names it.
template <class Control>
Control* makeControl(QWidget* container, const char* name, const TwipRect& where) {
    auto* control = new Control(container);
    control->setObjectName(QString::fromLatin1(name));
    const QScreen* screen = container->screen();
    control->setGeometry(
        window::twipsToPixels(where, screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY()));
    return control;
}

QLabel* makeLabel(QWidget* container, const char* name, const TwipRect& where,
                  const QString& caption) {
    auto* label = makeControl<QLabel>(container, name, where);
    label->setText(caption);
    return label;
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void makeWarning(QLabel* label) {
    setTextColour(label, QColor(255, 0, 0));
    label->setFont(window::msSansSerif(9.75));
}

// A caption as read: "&" marks the accelerator, "&&" stands for "&".
QString withoutMnemonic(const QString& caption) {
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size()) {
            ++i;
        }
        text += caption[i];
    }
    return text;
}

void maskWithAsterisks(QLineEdit* field) {
    auto* style = new window::PasswordStyle(QApplication::style()->name());
    style->setParent(field);
    field->setStyle(style);
    field->setEchoMode(QLineEdit::Password);
}

// The program's icon, a database drum with a red cross, for when the
// installed one is not found.
QIcon paintedIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(QPen(QColor(0x1f, 0x3f, 0x63), 2));
        p.setBrush(QColor(0x3a, 0x6e, 0xa5));
        p.drawRoundedRect(QRectF(10, 14, 44, 43), 22, 9);
        p.setBrush(QColor(0x6d, 0x9f, 0xd6));
        p.drawEllipse(QRectF(10, 5, 44, 18));
        p.setPen(QPen(Qt::white, 3));
        p.setBrush(QColor(0xd2, 0x1f, 0x1f));
        p.drawEllipse(QRectF(32, 32, 28, 28));
        p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(39, 39), QPointF(53, 53));
        p.drawLine(QPointF(53, 39), QPointF(39, 53));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

frmIni::frmIni(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmIni"));
    setWindowTitle(QStringLiteral("Tarvelo"));
    setAccessibleName(windowTitle());
    buildControls();
    nameForScreenReaders();
    setTabOrder();
    connect(cmCargaBDSQL, &QPushButton::clicked, this, &frmIni::cmCargaBDSQL_Click);
    connect(cmElimina, &QPushButton::clicked, this, &frmIni::cmElimina_Click);
    for (QPushButton* button : {cmCargaBDSQL, cmElimina}) {
        connect(button, &QPushButton::pressed, this, [this, button] {
            if (working_ != Work::None) {
                pressedDuringWork_.insert(button);
            }
        });
    }
    for (QLineEdit* field : {txtServerSQL, txtUserSQL}) {
        connect(field, &QLineEdit::textChanged, this,
                [this, field] { connectionFieldChanged(field); });
    }
    // Enter in a connection field loads, as the load button would.
    for (QLineEdit* field : {txtServerSQL, txtUserSQL, txtPwdSQL}) {
        connect(field, &QLineEdit::returnPressed, cmCargaBDSQL, &QPushButton::click);
    }
    setWindowIcon(QIcon::fromTheme(QStringLiteral("tarvelo"), paintedIcon()));
    txtServerSQL->setFocus();
    centreOnScreen();
}

void frmIni::buildControls() {
    Frame3 = makeControl<QGroupBox>(this, "Frame3", {120, 4080, 7575, 975});
    Frame3->setTitle(QStringLiteral("Estado"));
    lblEstado = makeLabel(Frame3, "lblEstado", {1200, 360, 5655, 255}, {});
    Label8 = makeLabel(Frame3, "Label8", {360, 360, 735, 255}, QStringLiteral("Estado"));

    cmElimina = makeControl<QPushButton>(this, "cmElimina", {120, 5160, 7575, 735});
    cmElimina->setText(QStringLiteral("Eliminar Base de Datos"));

    Frame2 = makeControl<QGroupBox>(this, "Frame2", {120, 1920, 7575, 2055});
    Frame2->setTitle(QStringLiteral("SQL Server"));
    cmCargaBDSQL = makeControl<QPushButton>(Frame2, "cmCargaBDSQL", {1200, 1320, 2295, 495});
    cmCargaBDSQL->setText(QStringLiteral("&Carga Bases de Datos"));

    cmbBDSQL = makeControl<QComboBox>(Frame2, "cmbBDSQL", {5040, 360, 2295, 315});
    cmbBDSQL->setEditable(true);
    // The text field holds exactly what the user picked or typed: Enter adds
    // nothing to the list, and no completion rewrites a typed name into
    // another database's name.
    cmbBDSQL->setInsertPolicy(QComboBox::NoInsert);
    cmbBDSQL->setCompleter(nullptr);

    txtPwdSQL = makeControl<QLineEdit>(Frame2, "txtPwdSQL", {1200, 960, 2295, 285});
    maskWithAsterisks(txtPwdSQL);
    txtUserSQL = makeControl<QLineEdit>(Frame2, "txtUserSQL", {1200, 660, 2295, 285});
    txtServerSQL = makeControl<QLineEdit>(Frame2, "txtServerSQL", {1200, 360, 2295, 285});

    // Each caption's "&" makes Alt plus the following letter move to its field.
    Label6 = makeLabel(Frame2, "Label6", {3840, 360, 1215, 255}, QStringLiteral("&Base de Datos"));
    Label5 = makeLabel(Frame2, "Label5", {240, 990, 855, 255}, QStringLiteral("C&ontraseña"));
    Label4 = makeLabel(Frame2, "Label4", {240, 690, 855, 255}, QStringLiteral("&Usuario"));
    Label3 = makeLabel(Frame2, "Label3", {240, 390, 735, 255}, QStringLiteral("&Servidor"));

    Label2 = makeLabel(this, "Label2", {120, 1320, 7575, 375},
                       QStringLiteral("Esta herramienta elimina completamente la base de datos "
                                      "SQL Server."));
    makeWarning(Label2);
    Label1 = makeLabel(this, "Label1", {120, 960, 7575, 375},
                       QStringLiteral("Utilizar esta herramienta con mucha precaución."));
    makeWarning(Label1);
    Label7 = makeLabel(this, "Label7", {120, 240, 7575, 495},
                       QStringLiteral("Eliminar base de datos SQL Server"));
    Label7->setForegroundRole(QPalette::Highlight);
    Label7->setFont(window::msSansSerif(18));

    const QScreen* screen = this->screen();
    setFixedSize(window::twipsToPixels(kClientArea, screen->logicalDotsPerInchX(),
                                       screen->logicalDotsPerInchY())
                     .size());
}

void frmIni::nameForScreenReaders() {
    // A screen reader says what a sighted user reads: each field the caption
    // of the label beside it, each button its caption without the "&".
    const std::pair<QLabel*, QWidget*> labelled[] = {
        {Label3, txtServerSQL}, {Label4, txtUserSQL}, {Label5, txtPwdSQL}, {Label6, cmbBDSQL}};
    for (const auto& [label, field] : labelled) {
        label->setBuddy(field);
        field->setAccessibleName(withoutMnemonic(label->text()));
    }
    // The status line's name is its text (set with it); what it is, its
    // description.
    lblEstado->setAccessibleDescription(Label8->text());
    for (QPushButton* button : {cmCargaBDSQL, cmElimina}) {
        button->setAccessibleName(withoutMnemonic(button->text()));
    }
    for (QGroupBox* frame : {Frame2, Frame3}) {
        frame->setAccessibleName(frame->title());
    }
    for (QLabel* label : {Label1, Label2, Label3, Label4, Label5, Label6, Label7, Label8}) {
        label->setAccessibleName(withoutMnemonic(label->text()));
    }
}

void frmIni::setTabOrder() {
    QWidget::setTabOrder(txtServerSQL, txtUserSQL);
    QWidget::setTabOrder(txtUserSQL, txtPwdSQL);
    QWidget::setTabOrder(txtPwdSQL, cmCargaBDSQL);
    QWidget::setTabOrder(cmCargaBDSQL, cmbBDSQL);
    QWidget::setTabOrder(cmbBDSQL, cmElimina);
}

void frmIni::centreOnScreen() {
    const QRect available = screen()->availableGeometry();
    move(available.center() - rect().center());
}
