#include "Sentences.h"

#include "text/VisibleName.h"

namespace connection::say {

namespace {
const QString kPasswordNotSent = QStringLiteral("no se ha enviado la contraseña.");
const QString kStrictRemedy = QStringLiteral(
    " El controlador FreeTDS instalado no lo ofrece: instale FreeTDS 1.5 o posterior (por "
    "ejemplo, el paquete tdsodbc de trixie-backports).");
QString shown(const QString& typed) { return text::visibleName(typed); }
} // namespace

QString invalidServerName(const QString& typed) {
    return QStringLiteral("El nombre de servidor '%1' no es válido.").arg(shown(typed));
}

QString lookupTimedOut() {
    return QStringLiteral("El servicio de nombres no ha respondido en el tiempo de espera al "
                          "buscar el equipo servidor.");
}

QString unknownHost() {
    return QStringLiteral(
        "No se encuentra el equipo servidor: su nombre no corresponde a ninguna dirección.");
}

QString cannotConnect(const QString& instance) {
    if (!instance.isEmpty()) {
        return QStringLiteral("No se puede conectar con la instancia '%1': el servicio SQL "
                              "Server Browser del equipo no la conoce o no responde, o la "
                              "instancia no está disponible.")
            .arg(shown(instance));
    }
    return QStringLiteral("No se puede conectar con el servidor: no está disponible, no "
                          "existe o rechaza la conexión.");
}

QString noAnswerInTime() {
    return QStringLiteral("El servidor no ha respondido en el tiempo de espera.");
}

QString linkLost() { return QStringLiteral("Se ha perdido la conexión con el servidor."); }

QString handshakeFailed() {
    return QStringLiteral("No se ha podido establecer la conexión con el servidor: el inicio "
                          "de la sesión o su cifrado (TLS) han fallado.");
}

QString unreadableAnswer() {
    return QStringLiteral("El servidor ha enviado una respuesta que no se puede leer.");
}

QString driverError() {
    return QStringLiteral("El controlador de SQL Server (FreeTDS) ha informado de un error.");
}

QString noEncryption() {
    return QStringLiteral("El servidor no admite conexiones cifradas; ") + kPasswordNotSent;
}

QString noEncryptionAnswered() {
    return noEncryption() + QStringLiteral(" Si el servidor sí admite el cifrado, alguien en la "
                                           "red está intentando debilitarlo.");
}

QString weakerAnswer() {
    return QStringLiteral("Alguien en la red está intentando debilitar el cifrado de la conexión: "
                          "la respuesta que ha llegado del servidor cifraría solo el inicio de "
                          "sesión. Se ha cerrado la conexión; ") +
           kPasswordNotSent;
}

QString clearAfterLogin() {
    return QStringLiteral("El servidor ha respondido sin cifrar al inicio de sesión cifrado: "
                          "alguien en la red ha alterado la negociación del cifrado. Se ha "
                          "cerrado la conexión antes de enviar ninguna orden.");
}

QString clearLogin() {
    return QStringLiteral("El inicio de sesión iba a salir sin cifrar; se ha cerrado la conexión "
                          "y ") +
           kPasswordNotSent;
}

QString nameUncheckable() {
    return QStringLiteral("No se puede comprobar que el certificado del servidor corresponde a "
                          "su nombre: el servidor ha negociado TLS 1.3 en una conexión TDS 7.x, "
                          "donde el controlador FreeTDS instalado no lo comprueba; ") +
           QStringLiteral("no se ha enviado la contraseña. Con FreeTDS 1.5 o posterior el "
                          "controlador lo comprueba por sí mismo.");
}

QString foreignPeer() {
    return QStringLiteral("Otro programa de este equipo se ha conectado al punto de paso local de "
                          "la conexión antes que el controlador; se ha cerrado la conexión y ") +
           kPasswordNotSent;
}

QString rerouted() {
    return QStringLiteral("El servidor ha redirigido la conexión a otro servidor, y Tarvelo no "
                          "sigue redirecciones: escriba el nombre del servidor al que se "
                          "redirige.");
}

QString untrustedCertificate() {
    return QStringLiteral("El certificado del servidor no es de confianza o no corresponde a su "
                          "nombre; ") +
           kPasswordNotSent;
}

QString certificateDeclined() {
    return QStringLiteral("No se ha confiado en el certificado del servidor; ") + kPasswordNotSent;
}

QString strictOnly(bool remedy) {
    return QStringLiteral("El servidor solo admite cifrado estricto (TDS 8.0); ") +
           kPasswordNotSent + (remedy ? kStrictRemedy : QString());
}

QString sectionWantsStrict(const QString& section) {
    return QStringLiteral("La sección '%1' de freetds.conf pide cifrado estricto (TDS 8.0); ")
               .arg(shown(section)) +
           kPasswordNotSent + kStrictRemedy;
}

QString strictWithdrawn() {
    return QStringLiteral("El servidor ha usado cifrado estricto (TDS 8.0) en esta sesión y "
                          "ahora no lo ofrece: alguien puede estar interceptando la conexión; ") +
           kPasswordNotSent;
}

QString noKerberosTicket() {
    return QStringLiteral("No hay un vale de Kerberos; inicie sesión con kinit.");
}

QString kerberosTicketExpired() {
    return QStringLiteral("El vale de Kerberos ha caducado; inicie sesión con kinit.");
}

QString kdcNotAnswering() {
    return QStringLiteral("El KDC de Kerberos no responde; no se puede iniciar sesión con la "
                          "autenticación de Windows.");
}

QString kdcDoesNotKnow(const QString& principal) {
    return QStringLiteral("El KDC de Kerberos no conoce el servidor (%1); no se puede iniciar "
                          "sesión con la autenticación de Windows.")
        .arg(shown(principal));
}

QString privateFolderMissing() {
    return QStringLiteral("No se puede crear la carpeta privada de configuración de FreeTDS; ") +
           kPasswordNotSent;
}

QString privateFileNotWritten(const QString& path) {
    return QStringLiteral("No se puede escribir el archivo privado de configuración de FreeTDS "
                          "'%1'; ")
               .arg(shown(path)) +
           kPasswordNotSent;
}

QString valueNotWritable(const QString& value) {
    return QStringLiteral("El valor \"%1\" no se puede escribir en la configuración de FreeTDS "
                          "tal como está (contiene un salto de línea, «;» o «#», o es demasiado "
                          "largo); ")
               .arg(shown(value)) +
           kPasswordNotSent;
}

QString privateConfNotInUse() {
    return QStringLiteral("La configuración privada de FreeTDS no se preparó al iniciarse el "
                          "programa; ") +
           kPasswordNotSent;
}

QString relayNotOpened(const QString& reason) {
    return QStringLiteral("No se puede abrir el punto de paso local de la conexión (%1); ")
               .arg(reason) +
           kPasswordNotSent;
}

QString confNotARegularFile(const QString& path) {
    return QStringLiteral("El archivo de configuración de FreeTDS '%1' no es un archivo normal "
                          "(es una tubería, un socket o un dispositivo): leerlo podría no "
                          "terminar nunca.")
        .arg(shown(path));
}

} // namespace connection::say
