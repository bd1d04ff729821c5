// libFuzzer target over the reader of the server's PRELOGIN answer, which
// the connection probe reads from any server a user names.  Built with
// clang and -fsanitize=fuzzer,address,undefined; no Qt involved.
//
// The input is the byte stream as it arrives; the reader is asked after
// every byte, as the probe asks after every read.

#include "platform/connection/PreloginReply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t have = 0; have <= size; ++have) {
        const auto length = connection::replyLength(data, have);
        if (length && *length <= have) {
            const auto answer = connection::replyEncryption(data, have);
            // An answer is a byte of the packet the header delimits.
            if (answer && *length < connection::kPacketHeaderSize + 1) {
                std::abort();
            }
            break;
        }
    }
    return 0;
}
