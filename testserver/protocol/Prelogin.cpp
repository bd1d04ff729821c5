#include "Prelogin.h"

namespace tds {

namespace {
constexpr std::uint8_t OptVersion = 0;
constexpr std::uint8_t OptEncryption = 1;
constexpr std::uint8_t OptInstance = 2;
constexpr std::uint8_t OptThreadId = 3;
constexpr std::uint8_t OptMars = 4;
constexpr std::uint8_t OptTerminator = 0xFF;
} // namespace

std::optional<PreloginRequest> parsePrelogin(ByteView payload, std::string& error) {
    PreloginRequest req;
    ByteReader table(payload);
    for (;;) {
        std::uint8_t token = 0;
        if (!table.u8(token)) {
            error = "PRELOGIN without terminator";
            return std::nullopt;
        }
        if (token == OptTerminator) {
            break;
        }
        std::uint16_t offset = 0;
        std::uint16_t length = 0;
        if (!table.u16be(offset) || !table.u16be(length)) {
            error = "PRELOGIN option table truncated";
            return std::nullopt;
        }
        if (static_cast<std::size_t>(offset) + length > payload.size()) {
            error = "PRELOGIN option " + std::to_string(token) + " outside the packet";
            return std::nullopt;
        }
        const ByteView value = payload.subspan(offset, length);
        switch (token) {
        case OptEncryption:
            if (length >= 1) {
                req.encryption = value[0];
            }
            break;
        case OptInstance:
            for (std::uint8_t c : value) {
                if (c == 0) {
                    break;
                }
                req.instance.push_back(static_cast<char>(c));
            }
            break;
        case OptThreadId:
            if (length >= 4) {
                ByteReader r(value);
                std::uint32_t id = 0;
                r.u32be(id);
                req.threadId = id;
            }
            break;
        case OptMars:
            if (length >= 1) {
                req.mars = value[0];
            }
            break;
        default: // version, trace id, federated authentication, nonce: not used
            break;
        }
    }
    return req;
}

Bytes preloginResponse(const ProductVersion& v, std::uint8_t encryption, bool instanceMatches) {
    struct Option {
        std::uint8_t token;
        Bytes value;
    };
    const Option options[] = {
        {OptVersion,
         {static_cast<std::uint8_t>(v.major), static_cast<std::uint8_t>(v.minor),
          static_cast<std::uint8_t>(v.build >> 8), static_cast<std::uint8_t>(v.build), 0, 0}},
        {OptEncryption, {encryption}},
        {OptInstance, {static_cast<std::uint8_t>(instanceMatches ? 0 : 1)}},
        {OptThreadId, {}},
        {OptMars, {0}},
    };
    ByteWriter w;
    std::uint16_t offset = static_cast<std::uint16_t>(std::size(options) * 5 + 1);
    for (const Option& o : options) {
        w.u8(o.token);
        w.u16be(offset);
        w.u16be(static_cast<std::uint16_t>(o.value.size()));
        offset = static_cast<std::uint16_t>(offset + o.value.size());
    }
    w.u8(OptTerminator);
    for (const Option& o : options) {
        w.raw(o.value);
    }
    return w.take();
}

EncryptionChoice chooseEncryption(ServerEncryption server, std::optional<std::uint8_t> client) {
    // A client that sends no option is one that cannot encrypt.
    const std::uint8_t wants = client.value_or(encrypt::NotSupported);
    EncryptionChoice c;
    switch (server) {
    case ServerEncryption::Unsupported:
        return c;
    case ServerEncryption::Forced:
        c.answer = encrypt::Required;
        c.tls = wants != encrypt::NotSupported;
        c.refuse = !c.tls;
        return c;
    case ServerEncryption::Available:
        if (wants == encrypt::NotSupported) {
            c.answer = encrypt::NotSupported;
        } else if (wants == encrypt::Off) {
            c.answer = encrypt::Off;
            c.tls = true;
            c.loginOnly = true;
        } else {
            c.answer = encrypt::On;
            c.tls = true;
        }
        return c;
    }
    return c;
}

} // namespace tds
