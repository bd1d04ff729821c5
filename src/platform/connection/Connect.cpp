#include "Connect.h"

#include "Login.h"
#include "RunMemory.h"

namespace connection {

void setCertificateQuestion(CertificateQuestion question) {
    memory::setQuestion(std::move(question));
}

std::unique_ptr<odbc::Connection> connect(const Request& request) {
    return Login(request).connect().connection;
}

} // namespace connection
