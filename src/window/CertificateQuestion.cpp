#include "CertificateQuestion.h"

#include "platform/ui/Services.h"
#include "text/VisibleName.h"

namespace window {

QString certificateQuestion(const connection::UnverifiedCertificate& certificate) {
    return QStringLiteral("No se puede comprobar la identidad del servidor '") +
           text::visibleName(certificate.server) +
           QStringLiteral("': su certificado no lo firma ninguna autoridad de confianza o no "
                          "corresponde a su nombre.\r\n\r\nSujeto: ") +
           text::visibleName(certificate.subject) + QStringLiteral("\r\nEmisor: ") +
           text::visibleName(certificate.issuer) + QStringLiteral("\r\nHuella SHA-256: ") +
           certificate.sha256 +
           QStringLiteral("\r\n\r\nSi responde Sí, la contraseña se enviará a quien tenga este "
                          "certificado, sea o no el servidor. Responda Sí solo si el "
                          "administrador del servidor le ha confirmado esta huella.\r\n\r\n"
                          "¿Desea confiar en este certificado hasta que cierre el programa?");
}

bool askToTrustCertificate(const connection::UnverifiedCertificate& certificate) {
    return ui::MsgBox(certificateQuestion(certificate), ui::style::YesNoWarningDefaultNo) ==
           ui::answer::Yes;
}

} // namespace window
