#include "KerberosCheck.h"

#include "Sentences.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5/krb5.h>

#include <netdb.h>

#include <cstring>

namespace connection {

namespace {

QString canonicalHost(const QString& host) {
    if (host.contains(u'.')) {
        return host;
    }
    const QByteArray name = host.toUtf8();
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    QString result = host;
    if (getaddrinfo(name.constData(), nullptr, &hints, &found) == 0) {
        if (found->ai_canonname && std::strchr(found->ai_canonname, '.')) {
            result = QString::fromUtf8(found->ai_canonname);
        }
        freeaddrinfo(found);
    }
    return result;
}

} // namespace

QString servicePrincipal(const QString& host, int port) {
    return QStringLiteral("MSSQLSvc/%1:%2").arg(canonicalHost(host)).arg(port);
}

QString kerberosCause(const QString& host, int port) {
    OM_uint32 minor = 0;
    OM_uint32 ignored = 0;
    gss_cred_id_t credentials = GSS_C_NO_CREDENTIAL;
    OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET,
                                       GSS_C_INITIATE, &credentials, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        return say::noKerberosTicket();
    }
    const QString principal = servicePrincipal(host, port);
    const QByteArray text = principal.toUtf8();
    gss_buffer_desc nameBuffer = {static_cast<size_t>(text.size()),
                                  const_cast<char*>(text.constData())};
    gss_name_t target = GSS_C_NO_NAME;
    QString cause;
    major = gss_import_name(&minor, &nameBuffer, GSS_KRB5_NT_PRINCIPAL_NAME, &target);
    if (!GSS_ERROR(major)) {
        gss_ctx_id_t context = GSS_C_NO_CONTEXT;
        gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
        major = gss_init_sec_context(&minor, credentials, &context, target, GSS_C_NO_OID,
                                     GSS_C_MUTUAL_FLAG, 0, GSS_C_NO_CHANNEL_BINDINGS,
                                     GSS_C_NO_BUFFER, nullptr, &output, nullptr, nullptr);
        if (GSS_ERROR(major)) {
            if (minor == static_cast<OM_uint32>(KRB5_KDC_UNREACH) ||
                minor == static_cast<OM_uint32>(KRB5_REALM_CANT_RESOLVE)) {
                cause = say::kdcNotAnswering();
            } else if (minor == static_cast<OM_uint32>(KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN)) {
                cause = say::kdcDoesNotKnow(principal);
            } else if (minor == static_cast<OM_uint32>(KRB5KRB_AP_ERR_TKT_EXPIRED) ||
                       major == GSS_S_NO_CRED || major == GSS_S_CREDENTIALS_EXPIRED) {
                cause = say::kerberosTicketExpired();
            }
        }
        gss_release_buffer(&ignored, &output);
        gss_delete_sec_context(&ignored, &context, GSS_C_NO_BUFFER);
        gss_release_name(&ignored, &target);
    }
    gss_release_cred(&ignored, &credentials);
    return cause;
}

} // namespace connection
