#include "Connect.h"

#include "RunMemory.h"

namespace connection {

void setCertificateQuestion(CertificateQuestion question) {
    memory::setQuestion(std::move(question));
}

} // namespace connection
