// The question about a certificate that did not verify: a warning with Yes
// and No, No the default, naming the server and the certificate literally.
#include "RecordingUi.h"
#include "window/CertificateQuestion.h"

#include <gtest/gtest.h>

namespace {

TEST(CertificateQuestion, NamesServerAndCertificateAndOnlyYesTrustsIt) {
    const connection::UnverifiedCertificate certificate{
        QStringLiteral("db1\u200B"), QStringLiteral("CN=db1"), QStringLiteral("CN=Otra CA"),
        QStringLiteral("AB:CD")};
    for (const int reply : {ui::answer::Yes, ui::answer::No}) {
        testing_support::RecordingUi ui;
        ui.answer(reply);
        EXPECT_EQ(window::askToTrustCertificate(certificate), reply == ui::answer::Yes);
        ASSERT_EQ(ui.messages().size(), 1u);
        EXPECT_EQ(ui.messages()[0].style, ui::style::YesNoWarningDefaultNo);
        const QString text = ui.messages()[0].text;
        for (const char* part : {"'db1<U+200B>'", "Sujeto: CN=db1", "Emisor: CN=Otra CA",
                                 "Huella SHA-256: AB:CD", "la contraseña se enviará"}) {
            EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
        }
    }
}

} // namespace
