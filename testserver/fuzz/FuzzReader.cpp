// libFuzzer target over everything the server reads from a client: packet
// framing, PRELOGIN, LOGIN7, SQL batch and RPC requests.  Built with clang
// and -fsanitize=fuzzer,address,undefined; no Qt involved.
//
// The first input byte picks the TDS version and how the stream is cut
// into reads; the rest is the byte stream of one connection.

#include "protocol/Login7.h"
#include "protocol/Packets.h"
#include "protocol/Prelogin.h"
#include "protocol/Requests.h"
#include "protocol/TdsVersion.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
constexpr std::uint32_t Versions[] = {tds::version::V7_1, tds::version::V7_2, tds::version::V7_3B,
                                      tds::version::V7_4};

void parseMessage(const tds::Message& m, std::uint32_t version) {
    std::string error;
    switch (m.type) {
    case tds::packet::Prelogin:
        (void)tds::parsePrelogin(m.payload, error);
        break;
    case tds::packet::Login7:
        (void)tds::parseLogin7(m.payload, error);
        break;
    case tds::packet::SqlBatch:
        (void)tds::parseSqlBatch(m.payload, version, error);
        break;
    case tds::packet::Rpc:
        (void)tds::parseRpc(m.payload, version, error);
        break;
    default:
        break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint32_t version = Versions[data[0] & 3];
    const std::size_t chunk = (data[0] >> 2) + 1; // 1 to 64 bytes per read
    const tds::ByteView stream(data + 1, size - 1);

    // The same payload straight into each reader, framing aside.
    std::string error;
    (void)tds::parsePrelogin(stream, error);
    (void)tds::parseLogin7(stream, error);
    (void)tds::parseSqlBatch(stream, version, error);
    (void)tds::parseRpc(stream, version, error);

    tds::MessageAssembler assembler(64 * 1024);
    for (std::size_t at = 0; at < stream.size() && !assembler.failed(); at += chunk) {
        const std::size_t n = std::min(chunk, stream.size() - at);
        assembler.feed(stream.subspan(at, n));
        while (auto m = assembler.next()) {
            parseMessage(*m, version);
        }
    }
    return 0;
}
