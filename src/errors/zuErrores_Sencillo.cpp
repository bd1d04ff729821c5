#include "zuErrores_Sencillo.h"

#include "platform/runtime/CurrentError.h"
#include "platform/ui/Services.h"

#include <memory>

void zuErrores_Sencillo::errorVB(QString sAmbito) {
    const rt::ErrorRecord& error = rt::currentError();
    ui::MsgBox(sAmbito + QStringLiteral(". Error ") + QString::number(error.number) +
                   QStringLiteral(": ") + error.description,
               ui::style::Ok);
}

// No caller in the program uses this yet; it shows the message it is given,
// since a message parameter that is silently dropped would mislead every
// future caller.
void zuErrores_Sencillo::errorSinNumero(QString sAmbito, QString sMsg) {
    ui::MsgBox(sAmbito + QStringLiteral(". Error : ") + sMsg, ui::style::Ok);
}

namespace {
std::unique_ptr<zuErrores_Sencillo>& instance() {
    static std::unique_ptr<zuErrores_Sencillo> shared;
    return shared;
}
} // namespace

zuErrores_Sencillo& oErrores() {
    if (!instance()) {
        instance() = std::make_unique<zuErrores_Sencillo>();
    }
    return *instance();
}

bool oErroresCreated() { return instance() != nullptr; }
