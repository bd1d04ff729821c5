#include "KerberosAcceptor.h"

#include <QFile>

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

namespace server {

namespace {

QString statusText(OM_uint32 status, int type) {
    QString text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
        gss_display_status(&minor, status, type, GSS_C_NO_OID, &context, &message);
        text += QString::fromUtf8(static_cast<const char*>(message.value),
                                  static_cast<qsizetype>(message.length));
        gss_release_buffer(&minor, &message);
    } while (context != 0);
    return text;
}

QString failure(const char* step, OM_uint32 major, OM_uint32 minor) {
    return QStringLiteral("%1: %2 (%3)")
        .arg(QLatin1String(step), statusText(major, GSS_C_GSS_CODE),
             statusText(minor, GSS_C_MECH_CODE));
}

} // namespace

KerberosAcceptance acceptKerberos(const QString& keytab, const tds::Bytes& token) {
    KerberosAcceptance result;
    const QByteArray keytabPath = QFile::encodeName(keytab);
    gss_key_value_element_desc element = {"keytab", keytabPath.constData()};
    gss_key_value_set_desc store = {1, &element};
    OM_uint32 minor = 0;
    gss_cred_id_t credentials = GSS_C_NO_CREDENTIAL;
    OM_uint32 major =
        gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET,
                              GSS_C_ACCEPT, &store, &credentials, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        result.error = failure("keytab", major, minor);
        return result;
    }
    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_buffer_desc input = {token.size(), const_cast<std::uint8_t*>(token.data())};
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    gss_name_t client = GSS_C_NO_NAME;
    major = gss_accept_sec_context(&minor, &context, credentials, &input, GSS_C_NO_CHANNEL_BINDINGS,
                                   &client, nullptr, &output, nullptr, nullptr, nullptr);
    if (major == GSS_S_COMPLETE) {
        gss_buffer_desc name = GSS_C_EMPTY_BUFFER;
        OM_uint32 ignored = 0;
        gss_display_name(&ignored, client, &name, nullptr);
        result.principal = QString::fromUtf8(static_cast<const char*>(name.value),
                                             static_cast<qsizetype>(name.length));
        gss_release_buffer(&ignored, &name);
        const auto* bytes = static_cast<const std::uint8_t*>(output.value);
        result.reply.assign(bytes, bytes + output.length);
        result.accepted = true;
    } else if (major == GSS_S_CONTINUE_NEEDED) {
        result.error = QStringLiteral("only single-round Kerberos is served");
    } else {
        result.error = failure("accept", major, minor);
    }
    OM_uint32 ignored = 0;
    gss_release_buffer(&ignored, &output);
    gss_release_name(&ignored, &client);
    gss_delete_sec_context(&ignored, &context, GSS_C_NO_BUFFER);
    gss_release_cred(&ignored, &credentials);
    return result;
}

} // namespace server
