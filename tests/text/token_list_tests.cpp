#include "text/zuListaTokens.h"

#include "RecordingUi.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <random>

namespace {

using testing_support::Message;
using testing_support::RecordingUi;

const QString kOutOfRange = QStringLiteral("Función Item: Index fuera de rango");

QStringList itemsOf(zuListaTokens& list) {
    QStringList items;
    for (std::int32_t i = 0; i < list.Count(); ++i) {
        items << list.item(i);
    }
    return items;
}

// ---- getToken ----------------------------------------------------------

TEST(GetToken, TakesOneTokenAtATimeOffTheFront) {
    zuListaTokens tokens;
    QString s = QStringLiteral("a;b");
    EXPECT_EQ(tokens.getToken(s, QStringLiteral(";")), QStringLiteral("a"));
    EXPECT_EQ(s, QStringLiteral("b"));
    EXPECT_EQ(tokens.getToken(s, QStringLiteral(";")), QStringLiteral("b"));
    EXPECT_EQ(s, QString());
}

TEST(GetToken, EverySeparatorCharacterSeparatesOnItsOwn) {
    zuListaTokens tokens;
    QString s = QStringLiteral("a, b");
    const QString sep = QStringLiteral(", ");
    EXPECT_EQ(tokens.getToken(s, sep), QStringLiteral("a"));
    EXPECT_EQ(tokens.getToken(s, sep), QString());
    EXPECT_EQ(tokens.getToken(s, sep), QStringLiteral("b"));
    EXPECT_TRUE(s.isEmpty());

    // The order of the separator characters does not matter.
    QString t = QStringLiteral("x y,z");
    EXPECT_EQ(tokens.getToken(t, QStringLiteral(" ,")), QStringLiteral("x"));
    EXPECT_EQ(tokens.getToken(t, QStringLiteral(", ")), QStringLiteral("y"));
    EXPECT_EQ(t, QStringLiteral("z"));
}

TEST(GetToken, ALeadingSeparatorGivesAnEmptyTokenAndIsRemovedAlone) {
    zuListaTokens tokens;
    QString s = QStringLiteral("\\\\srv\\share");
    EXPECT_EQ(tokens.getToken(s, QStringLiteral("\\")), QString());
    EXPECT_EQ(s, QStringLiteral("\\srv\\share"));
}

TEST(GetToken, ATrailingSeparatorIsConsumedWithTheTokenBeforeIt) {
    zuListaTokens tokens;
    QString s = QStringLiteral("C:\\");
    EXPECT_EQ(tokens.getToken(s, QStringLiteral("\\")), QStringLiteral("C:"));
    EXPECT_TRUE(s.isEmpty());

    QString only = QStringLiteral(";");
    EXPECT_EQ(tokens.getToken(only, QStringLiteral(";")), QString());
    EXPECT_TRUE(only.isEmpty());
}

TEST(GetToken, WithoutSeparatorTheWholeTextIsTheToken) {
    zuListaTokens tokens;
    QString s = QStringLiteral("a;b c");
    EXPECT_EQ(tokens.getToken(s, QString()), QStringLiteral("a;b c"));
    EXPECT_TRUE(s.isEmpty());

    QString none = QStringLiteral("abc");
    EXPECT_EQ(tokens.getToken(none, QStringLiteral(";")), QStringLiteral("abc"));
    EXPECT_TRUE(none.isEmpty());

    QString empty;
    EXPECT_EQ(tokens.getToken(empty, QStringLiteral(";")), QString());
    EXPECT_TRUE(empty.isEmpty());
}

TEST(GetToken, ComparesExactlyAndKeepsBlanks) {
    zuListaTokens tokens;
    QString s = QStringLiteral(" aXbx ");
    // Case-sensitive: "x" separates, "X" does not.
    EXPECT_EQ(tokens.getToken(s, QStringLiteral("x")), QStringLiteral(" aXb"));
    EXPECT_EQ(s, QStringLiteral(" "));
}

TEST(GetToken, LeavesTheStoredListAlone) {
    zuListaTokens tokens;
    tokens.setLista(QStringLiteral("uno;dos"), QStringLiteral(";"));
    QString s = QStringLiteral("x;y;z");
    tokens.getToken(s, QStringLiteral(";"));
    EXPECT_EQ(tokens.Count(), 2);
    EXPECT_EQ(itemsOf(tokens), QStringList({QStringLiteral("uno"), QStringLiteral("dos")}));
}

// Random texts over a small alphabet, so that separators, doubled
// separators and separators at both ends all occur often.
class RandomTexts : public ::testing::Test {
protected:
    std::mt19937 rng{20261208};

    QString randomText(const QString& alphabet, int maxLength) {
        std::uniform_int_distribution<int> length(0, maxLength);
        std::uniform_int_distribution<qsizetype> pick(0, alphabet.size() - 1);
        QString s;
        for (int n = length(rng); n > 0; --n) {
            s += alphabet.at(pick(rng));
        }
        return s;
    }
    QString randomSeparators() {
        // Up to three distinct characters, possibly none.
        const QString candidates = QStringLiteral(";, \\aé");
        QString sep;
        for (QChar c : randomText(candidates, 3)) {
            if (!sep.contains(c)) {
                sep += c;
            }
        }
        return sep;
    }
    static const QString& alphabet() {
        static const QString a = QStringLiteral("ab;, \\é\tA");
        return a;
    }
};

TEST_F(RandomTexts, GetTokenTokensAndConsumedSeparatorsRebuildTheText) {
    zuListaTokens tokens;
    for (int round = 0; round < 2000; ++round) {
        const QString text = randomText(alphabet(), 20);
        const QString sep = randomSeparators();
        QString rest = text;
        QString rebuilt;
        int calls = 0;
        do {
            const QString before = rest;
            const QString token = tokens.getToken(rest, sep);
            for (QChar c : token) {
                ASSERT_FALSE(sep.contains(c)) << "separator inside a token";
            }
            rebuilt += token;
            if (token.size() < before.size()) {
                // Exactly one separator was consumed, right after the token.
                const QChar consumed = before.at(token.size());
                ASSERT_TRUE(sep.contains(consumed));
                ASSERT_EQ(rest, before.mid(token.size() + 1));
                rebuilt += consumed;
            } else {
                ASSERT_EQ(token, before);
                ASSERT_TRUE(rest.isEmpty());
            }
            ++calls;
        } while (!rest.isEmpty());
        ASSERT_EQ(rebuilt, text) << "text " << text.toStdString() << " sep " << sep.toStdString();
        ASSERT_LE(calls, text.size() + 1);
    }
}

TEST_F(RandomTexts, SetListaKeepsExactlyTheNonEmptyTokensInOrder) {
    zuListaTokens list;
    for (int round = 0; round < 2000; ++round) {
        const QString text = randomText(alphabet(), 20);
        const QString sep = randomSeparators();
        QStringList expected;
        if (sep.isEmpty()) {
            expected = text.isEmpty() ? QStringList() : QStringList{text};
        } else {
            QString pattern;
            for (QChar c : sep) {
                pattern += QRegularExpression::escape(QString(c));
            }
            expected = text.split(QRegularExpression(u'[' + pattern + u']'), Qt::SkipEmptyParts);
        }
        list.setLista(text, sep);
        ASSERT_EQ(list.Count(), expected.size());
        ASSERT_EQ(itemsOf(list), expected)
            << "text " << text.toStdString() << " sep " << sep.toStdString();
    }
}

// ---- setLista, Count, item ------------------------------------------------

TEST(SetLista, StoresOnlyNonEmptyTokensInOrder) {
    zuListaTokens list;
    const QString sep = QStringLiteral(";");
    list.setLista(QStringLiteral(";a;;b;"), sep);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.item(0), QStringLiteral("a"));
    EXPECT_EQ(list.item(1), QStringLiteral("b"));
    EXPECT_EQ(sep, QStringLiteral(";"));
}

TEST(SetLista, AnEmptyTextOrOnlySeparatorsGiveNoTokens) {
    zuListaTokens list;
    EXPECT_EQ(list.Count(), 0);
    list.setLista(QString(), QStringLiteral(";"));
    EXPECT_EQ(list.Count(), 0);
    list.setLista(QStringLiteral(";;;"), QStringLiteral(";"));
    EXPECT_EQ(list.Count(), 0);
}

TEST(SetLista, AnEmptySeparatorSetKeepsTheWholeText) {
    zuListaTokens list;
    list.setLista(QStringLiteral("a;b"), QString());
    EXPECT_EQ(itemsOf(list), QStringList{QStringLiteral("a;b")});
}

TEST(SetLista, AShorterSecondListHidesEveryEarlierToken) {
    RecordingUi ui;
    ui.allow(1);
    zuListaTokens list;
    list.setLista(QStringLiteral("uno dos tres cuatro"), QStringLiteral(" "));
    ASSERT_EQ(list.Count(), 4);
    list.setLista(QStringLiteral("cinco"), QStringLiteral(" "));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.item(0), QStringLiteral("cinco"));
    EXPECT_EQ(list.item(1), QString());
    EXPECT_EQ(ui.messages(), (std::vector<Message>{{kOutOfRange, 16}}));
    for (const char* old : {"uno", "dos", "tres", "cuatro"}) {
        EXPECT_FALSE(list.bExisteItem(QString::fromUtf8(old))) << old;
    }

    list.setLista(QString(), QStringLiteral(" "));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.bExisteItem(QStringLiteral("cinco")));
}

TEST(Item, OutOfRangeShowsTheCriticalMessageOnceAndReturnsEmpty) {
    RecordingUi ui;
    ui.allow(3);
    zuListaTokens list;
    EXPECT_EQ(list.item(0), QString());
    list.setLista(QStringLiteral("a b"), QStringLiteral(" "));
    EXPECT_EQ(list.item(-1), QString());
    EXPECT_EQ(list.item(2), QString());
    EXPECT_EQ(ui.messages(),
              (std::vector<Message>{{kOutOfRange, 16}, {kOutOfRange, 16}, {kOutOfRange, 16}}));
    EXPECT_EQ(list.item(1), QStringLiteral("b"));
    EXPECT_EQ(ui.messages().size(), 3u);
}

// ---- bExisteItem ------------------------------------------------------------

TEST(BExisteItem, IgnoresCaseButNotBlanks) {
    zuListaTokens list;
    list.setLista(QStringLiteral("ABC;Año"), QStringLiteral(";"));
    EXPECT_TRUE(list.bExisteItem(QStringLiteral("abc")));
    EXPECT_TRUE(list.bExisteItem(QStringLiteral("AÑO")));
    EXPECT_FALSE(list.bExisteItem(QStringLiteral("ab")));

    list.setLista(QStringLiteral("abc "), QStringLiteral(";"));
    EXPECT_FALSE(list.bExisteItem(QStringLiteral("abc")));
    EXPECT_TRUE(list.bExisteItem(QStringLiteral("ABC ")));
}

TEST(BExisteItem, AnEmptyListHoldsNothing) {
    zuListaTokens list;
    EXPECT_FALSE(list.bExisteItem(QString()));
    EXPECT_FALSE(list.bExisteItem(QStringLiteral("a")));
}

} // namespace
