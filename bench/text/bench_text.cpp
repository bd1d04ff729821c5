// setLista against a plain split of the same text into a
// std::vector<QString>, over texts of 10 thousand to 1 million tokens.
// Items per second is tokens per second: flat across the sizes means linear
// growth.

#include "text/zuListaTokens.h"

#include <QString>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// Tokens of varied length, mostly one separator apart, now and then two in
// a row (an empty token that setLista skips).
QString textOf(int tokens) {
    QString text;
    text.reserve(static_cast<qsizetype>(tokens) * 8);
    for (int i = 0; i < tokens; ++i) {
        text += QStringLiteral("tok") + QString::number(i % 9973);
        text += i % 10 == 9 ? QStringLiteral(";;") : QStringLiteral(";");
    }
    return text;
}

void BM_setLista(benchmark::State& state) {
    const int tokens = static_cast<int>(state.range(0));
    const QString text = textOf(tokens);
    const QString sep = QStringLiteral(";");
    for (auto _ : state) {
        zuListaTokens list;
        list.setLista(text, sep);
        benchmark::DoNotOptimize(list.Count());
        if (list.Count() != tokens) {
            state.SkipWithError("wrong token count");
        }
    }
    state.SetItemsProcessed(state.iterations() * tokens);
}

void BM_plainSplit(benchmark::State& state) {
    const int tokens = static_cast<int>(state.range(0));
    const QString text = textOf(tokens);
    const QChar sep = QLatin1Char(';');
    for (auto _ : state) {
        std::vector<QString> parts;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text.at(i) == sep) {
                if (i > start) {
                    parts.emplace_back(text.constData() + start, i - start);
                }
                start = i + 1;
            }
        }
        benchmark::DoNotOptimize(parts.data());
        if (static_cast<int>(parts.size()) != tokens) {
            state.SkipWithError("wrong token count");
        }
    }
    state.SetItemsProcessed(state.iterations() * tokens);
}

} // namespace

BENCHMARK(BM_setLista)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plainSplit)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
