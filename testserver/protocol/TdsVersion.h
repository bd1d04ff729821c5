#pragma once
// TDS protocol versions as SQL Server numbers them, and which one a server of
// a given product major version speaks at most.

#include <algorithm>
#include <cstdint>

namespace tds {

namespace version {
constexpr std::uint32_t V7_0 = 0x70000000;
constexpr std::uint32_t V7_1 = 0x71000001;
constexpr std::uint32_t V7_2 = 0x72090002;
constexpr std::uint32_t V7_3A = 0x730A0003;
constexpr std::uint32_t V7_3B = 0x730B0003;
constexpr std::uint32_t V7_4 = 0x74000004;
} // namespace version

// The highest TDS version of a server whose product major version is
// `major` (8: SQL Server 2000 ... 11 and later: 7.4).
constexpr std::uint32_t serverMaxVersion(int major) {
    if (major <= 8) {
        return version::V7_1;
    }
    if (major == 9) {
        return version::V7_2;
    }
    if (major == 10) {
        return version::V7_3B;
    }
    return version::V7_4;
}

// The version both sides speak: the client's, capped by the server's.  A
// client version above 7.4 is answered with 7.4.  0 for clients older than
// 7.1, which this server does not serve.
constexpr std::uint32_t negotiateVersion(std::uint32_t client, std::uint32_t serverMax) {
    if (client < version::V7_1 && client != 0x71000000) {
        return 0;
    }
    std::uint32_t known = version::V7_1;
    for (std::uint32_t v : {version::V7_2, version::V7_3A, version::V7_3B, version::V7_4}) {
        if (client >= v) {
            known = v;
        }
    }
    return std::min(known, serverMax);
}

constexpr bool atLeast72(std::uint32_t v) { return v >= version::V7_2; }

} // namespace tds
