// Packet framing, LOGIN7 parsing, the token writer and the Browser, at the
// byte level.
#include "protocol/Login7.h"
#include "protocol/Packets.h"
#include "protocol/Requests.h"
#include "protocol/TdsVersion.h"
#include "protocol/TokenWriter.h"
#include "server/Browser.h"

#include <gtest/gtest.h>

using namespace tds;

namespace {

Bytes framed(std::uint8_t type, std::uint8_t status, const Bytes& body) {
    Bytes p = {type, status, 0, 0, 0, 0, 1, 0};
    const std::size_t len = body.size() + 8;
    p[2] = static_cast<std::uint8_t>(len >> 8);
    p[3] = static_cast<std::uint8_t>(len);
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

// A LOGIN7 request as a TDS 7.x client lays it out.
Bytes login7(std::uint32_t version, const std::u16string& user, const std::u16string& password,
             std::uint8_t flags2 = 0) {
    const std::size_t fixed = version >= version::V7_2 ? 94 : 86;
    Bytes b(fixed, 0);
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        b[at] = static_cast<std::uint8_t>(v);
        b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put32(4, version);
    put32(8, 8192);
    b[25] = flags2;
    auto field = [&](std::size_t at, const std::u16string& s, bool obfuscate) {
        put16(at, static_cast<std::uint16_t>(b.size()));
        put16(at + 2, static_cast<std::uint16_t>(s.size()));
        for (char16_t c : s) {
            std::uint8_t lo = static_cast<std::uint8_t>(c);
            std::uint8_t hi = static_cast<std::uint8_t>(c >> 8);
            if (obfuscate) {
                lo = obfuscatePasswordByte(lo);
                hi = obfuscatePasswordByte(hi);
            }
            b.push_back(lo);
            b.push_back(hi);
        }
    };
    field(40, user, false);
    field(44, password, true);
    field(68, u"Ventas", false);
    put32(0, static_cast<std::uint32_t>(b.size()));
    return b;
}

} // namespace

TEST(MessageAssembler, JoinsPacketsFedByteByByte) {
    Bytes stream = framed(packet::SqlBatch, 0, {1, 2, 3});
    const Bytes second = framed(packet::SqlBatch, packet::StatusEom, {4, 5});
    stream.insert(stream.end(), second.begin(), second.end());
    MessageAssembler a;
    for (std::uint8_t b : stream) {
        ASSERT_TRUE(a.feed(ByteView(&b, 1)));
    }
    const auto m = a.next();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, packet::SqlBatch);
    EXPECT_EQ(m->payload, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_FALSE(a.next());
    EXPECT_FALSE(a.midMessage());
}

TEST(MessageAssembler, RefusesWhatSqlServerWouldNotTake) {
    struct Case {
        const char* what;
        Bytes stream;
    };
    Bytes mixed = framed(packet::SqlBatch, 0, {1});
    const Bytes rpc = framed(packet::Rpc, packet::StatusEom, {2});
    mixed.insert(mixed.end(), rpc.begin(), rpc.end());
    const Case cases[] = {
        {"unknown type", framed(0x55, packet::StatusEom, {})},
        {"length below the header", {packet::SqlBatch, packet::StatusEom, 0, 7, 0, 0, 0, 0}},
        {"type change inside a message", mixed},
    };
    for (const Case& c : cases) {
        MessageAssembler a;
        EXPECT_FALSE(a.feed(c.stream)) << c.what;
        EXPECT_TRUE(a.failed()) << c.what;
        EXPECT_FALSE(a.error().empty()) << c.what;
    }
}

TEST(MessageAssembler, RefusesAMessageOverTheLimit) {
    MessageAssembler a(10000);
    const Bytes chunk(4000, 0x41);
    EXPECT_TRUE(a.feed(framed(packet::SqlBatch, 0, chunk)));
    EXPECT_TRUE(a.feed(framed(packet::SqlBatch, 0, chunk)));
    EXPECT_FALSE(a.feed(framed(packet::SqlBatch, packet::StatusEom, chunk)));
    EXPECT_FALSE(a.next());
}

TEST(Packetize, SplitsAtThePacketSizeAndMarksOnlyTheLast) {
    const Bytes payload(1500, 0x7E);
    const Bytes out = packetize(packet::TabularResult, payload, 512, 51);
    ASSERT_EQ(out.size(), 1500u + 3 * 8u); // 504 + 504 + 492 bytes of payload
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ((out[2] << 8) | out[3], 512);
    EXPECT_EQ((out[4] << 8) | out[5], 51);
    EXPECT_EQ(out[512 + 1], 0);
    EXPECT_EQ(out[1024 + 1], packet::StatusEom);
    EXPECT_EQ((out[1024 + 2] << 8) | out[1024 + 3], 492 + 8);
    EXPECT_EQ(out[1024 + 6], 3); // packet ids count up
    EXPECT_EQ(packetize(packet::TabularResult, {}, 4096, 0).size(), 8u);
    // Part of an answer sent as it goes: the message does not end there.
    EXPECT_EQ(packetize(packet::TabularResult, payload, 4096, 51, 0, false)[1], 0);
}

TEST(Login7, ReadsNamesAndRecoversTheObfuscatedPassword) {
    for (std::uint32_t v : {version::V7_1, version::V7_3B, version::V7_4}) {
        std::string err;
        const auto l = parseLogin7(login7(v, u"sa", u"S\u00f1;{}\u20ac"), err);
        ASSERT_TRUE(l) << err;
        EXPECT_EQ(l->tdsVersion, v);
        EXPECT_EQ(l->userName, u"sa");
        EXPECT_EQ(l->password, u"S\u00f1;{}\u20ac");
        EXPECT_EQ(l->database, u"Ventas");
        EXPECT_EQ(l->packetSize, 8192u);
        EXPECT_FALSE(l->integratedSecurity);
    }
    std::string err;
    EXPECT_TRUE(parseLogin7(login7(version::V7_4, u"", u"", 0x80), err)->integratedSecurity);
}

TEST(Login7, RefusesTruncatedRequestsAndFieldsOutside) {
    Bytes good = login7(version::V7_4, u"sa", u"x");
    std::string err;
    for (std::size_t cut : {std::size_t{0}, std::size_t{11}, std::size_t{60}, good.size() - 1}) {
        EXPECT_FALSE(parseLogin7(ByteView(good.data(), cut), err)) << cut;
    }
    Bytes outside = good;
    outside[40] = 0xF0; // the login name's offset now points past the end
    EXPECT_FALSE(parseLogin7(outside, err));
}

TEST(SqlBatch, SkipsAllHeadersFrom72On) {
    const Bytes text = {'S', 0, 'E', 0};
    Bytes with = {22, 0, 0, 0, 18, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    with.insert(with.end(), text.begin(), text.end());
    std::string err;
    EXPECT_EQ(parseSqlBatch(with, version::V7_3B, err), std::u16string(u"SE"));
    EXPECT_EQ(parseSqlBatch(text, version::V7_1, err), std::u16string(u"SE"));
    Bytes bad = with;
    bad[0] = 200; // ALL_HEADERS claims more than there is
    EXPECT_FALSE(parseSqlBatch(bad, version::V7_3B, err));
    EXPECT_FALSE(parseSqlBatch(Bytes{'S', 0, 'E'}, version::V7_1, err)); // odd length
}

TEST(TokenWriter, DoneCountWidthFollowsTheVersion) {
    TokenWriter old(version::V7_1);
    old.done(done::Count, curcmd::Select, 7);
    EXPECT_EQ(old.bytes(), (Bytes{0xFD, 0x10, 0x00, 0xC1, 0x00, 7, 0, 0, 0}));
    TokenWriter recent(version::V7_3B);
    recent.done(done::Count, curcmd::Select, 7);
    EXPECT_EQ(recent.bytes().size(), 1u + 2 + 2 + 8);
}

TEST(TokenWriter, RowsCarryNullsAndNVarCharLengthsInBytes) {
    TokenWriter w(version::V7_4);
    w.columns({Column{u"name", Column::Type::NVarChar, 128, true},
               Column{u"n", Column::Type::Int, 0, true}});
    const std::size_t metaSize = w.size();
    w.row({Value{std::u16string(u"\u00d1a")}, Value{}});
    const Bytes& b = w.bytes();
    const Bytes row(b.begin() + static_cast<std::ptrdiff_t>(metaSize), b.end());
    EXPECT_EQ(row, (Bytes{0xD1, 4, 0, 0xD1, 0x00, 'a', 0, 0}));
    ASSERT_EQ(w.rowStarts().size(), 1u);
    EXPECT_EQ(w.rowStarts()[0], metaSize);
    // COLMETADATA: count, then user type (4 bytes in 7.2+), flags, NVARCHAR(128), collation.
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 14),
              (Bytes{0x81, 2, 0, 0, 0, 0, 0, 1, 0, 0xE7, 0x00, 0x01, 0x09, 0x04}));
}

TEST(TokenWriter, ErrorAndInfoBySeverity) {
    TokenWriter w(version::V7_1);
    ServerMessage m;
    m.number = 3701;
    m.severity = 11;
    m.text = u"x";
    m.serverName = u"S";
    w.message(m);
    // token, length, number, state, class, text, server, procedure, line (2 bytes in 7.1)
    EXPECT_EQ(w.bytes(),
              (Bytes{0xAA, 16, 0, 0x75, 0x0E, 0, 0, 1, 11, 1, 0, 'x', 0, 1, 'S', 0, 0, 1, 0}));
    TokenWriter info(version::V7_4);
    m.severity = 10;
    info.message(m);
    EXPECT_EQ(info.bytes()[0], 0xAB);
}

TEST(TdsVersion, NegotiatesDownToWhatTheProductSpeaks) {
    EXPECT_EQ(negotiateVersion(version::V7_4, serverMaxVersion(10)), version::V7_3B);
    EXPECT_EQ(negotiateVersion(version::V7_4, serverMaxVersion(15)), version::V7_4);
    EXPECT_EQ(negotiateVersion(version::V7_3A, serverMaxVersion(15)), version::V7_3A);
    EXPECT_EQ(negotiateVersion(version::V7_1, serverMaxVersion(10)), version::V7_1);
    EXPECT_EQ(negotiateVersion(version::V7_4, serverMaxVersion(8)), version::V7_1);
    EXPECT_EQ(negotiateVersion(version::V7_0, serverMaxVersion(10)), 0u);
}

// The SQL Server Browser answers for its own instance (any case) and for the
// list of instances; other names and other requests get no answer.
TEST(Browser, AnswersForItsOwnInstanceOnly) {
    const server::Browser browser(QStringLiteral("NOMBRE"), QStringLiteral("10.50.6000.34"), 4321);
    const QByteArray data = "ServerName;TARVELO;InstanceName;NOMBRE;IsClustered;No;Version;"
                            "10.50.6000.34;tcp;4321;;";
    const QByteArray response = QByteArray("\x05", 1) + char(data.size()) + '\0' + data;
    const std::vector<std::pair<QByteArray, QByteArray>> cases = {
        {QByteArray("\x04NOMBRE\0", 8), response},
        {QByteArray("\x04nombre"), response},
        {QByteArray("\x03"), response},
        {QByteArray("\x04OTRA\0", 6), {}},
        {QByteArray("\x02"), {}},
        {QByteArray("\x0F\x01NOMBRE"), {}},
        {QByteArray(), {}},
    };
    for (const auto& [request, expected] : cases) {
        EXPECT_EQ(browser.answer(request), expected) << request.toHex().toStdString();
    }
}
