// Statement macros against the LogLine they expand to, and the text pieces
// added with them. Lines go to a sink that does nothing, so the figures are
// the cost of building and finishing a line.
//
// BM_TypicalLine_LogLine is the baseline for BM_TypicalLine_Macro (aim: within
// 5 %); BM_QStringPiece_ToUtf8Copy, QString::toUtf8 and then the bytes, is the
// baseline for BM_QStringPiece (aim: under 60 ns for 20 Chinese characters).

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>

#include <array>
#include <string_view>

#include <vxSyslog/vxLogging.h>

using namespace SystemLog;

namespace {

const std::array<int, 8> kSpeeds = {0, 7, 1200, 35, 99999, 4, 640, 12000};
const std::array<double, 8> kLoads = {36.25, 0.5, 99.75, 12.0, 7.125, 50.5, 3.75, 88.0};
const QString kChinese = QStringLiteral("主轴温度过高，请检查冷却液泵与过滤网状态");  // 20 characters
const QByteArray kChineseUtf8 = kChinese.toUtf8();

void installNullSink()
{
    LogLine::setSink([](int, const char* text, int length) {
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(length);
    });
}

void BM_TypicalLine_LogLine(benchmark::State& state)
{
    installNullSink();
    std::size_t i = 0;
    for (auto _ : state) {
        const std::size_t k = i++ % kSpeeds.size();
        LogLine(2, "motor").stream() << "speed " << kSpeeds[k] << " pos " << kSpeeds[7 - k] << " load "
                                     << kLoads[k];
    }
    LogLine::setSink(SinkFunc());
}

void BM_TypicalLine_Macro(benchmark::State& state)
{
    installNullSink();
    std::size_t i = 0;
    for (auto _ : state) {
        const std::size_t k = i++ % kSpeeds.size();
        VXLOG_STATUS << "motor " << "speed " << kSpeeds[k] << " pos " << kSpeeds[7 - k] << " load " << kLoads[k];
    }
    LogLine::setSink(SinkFunc());
}

void BM_QStringPiece(benchmark::State& state)
{
    for (auto _ : state) {
        LogStream stream;
        stream << kChinese;
        benchmark::DoNotOptimize(stream.buffer().data());
        benchmark::ClobberMemory();
    }
}

void BM_QStringPiece_ToUtf8Copy(benchmark::State& state)
{
    for (auto _ : state) {
        LogStream stream;
        stream << kChinese.toUtf8();
        benchmark::DoNotOptimize(stream.buffer().data());
        benchmark::ClobberMemory();
    }
}

void BM_QByteArrayPiece(benchmark::State& state)
{
    for (auto _ : state) {
        LogStream stream;
        stream << kChineseUtf8;
        benchmark::DoNotOptimize(stream.buffer().data());
        benchmark::ClobberMemory();
    }
}

void BM_StringViewPiece(benchmark::State& state)
{
    const std::string_view text(kChineseUtf8.constData(), static_cast<size_t>(kChineseUtf8.size()));
    for (auto _ : state) {
        LogStream stream;
        stream << text;
        benchmark::DoNotOptimize(stream.buffer().data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_TypicalLine_LogLine);
BENCHMARK(BM_TypicalLine_Macro);
BENCHMARK(BM_QStringPiece_ToUtf8Copy);
BENCHMARK(BM_QStringPiece);
BENCHMARK(BM_QByteArrayPiece);
BENCHMARK(BM_StringViewPiece);

BENCHMARK_MAIN();
