// The log stream against the usual ways of turning values into text: snprintf
// into a stack buffer, a reused std::ostringstream, and fmt::format_to into a
// stack buffer. Each benchmark formats one value per iteration, cycling
// through a table so that no value is a compile-time constant.

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <sstream>

#include <vxSyslog/LogStream.h>
#include <vxSyslog/vxLogging.h>

using namespace SystemLog;

namespace {

constexpr std::size_t kValueCount = 1024;

template <typename T, typename Make>
std::array<T, kValueCount> makeValues(Make make)
{
    std::array<T, kValueCount> values{};
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (T& v : values) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        v = make(state);
    }
    return values;
}

// Values of every width, not only long ones: real logs carry many small numbers.
const auto kInts = makeValues<int>([](std::uint64_t r) {
    const int digits = static_cast<int>(r % 10);
    int limit = 1;
    for (int i = 0; i < digits; ++i)
        limit *= 10;
    const int v = static_cast<int>((r >> 8) % static_cast<std::uint64_t>(limit));
    return (r & 0x100) ? -v : v;
});
const auto kInt64s = makeValues<long long>([](std::uint64_t r) {
    return static_cast<long long>(r >> (r % 48));
});
// Full precision: twelve significant digits to produce, the formatters' worst case.
const auto kDoubles = makeValues<double>([](std::uint64_t r) {
    return static_cast<double>(static_cast<std::int64_t>(r >> 20)) / 1024.0;
});
// What log lines mostly carry: a few digits around the point, such as 36.25.
const auto kShortDoubles = makeValues<double>([](std::uint64_t r) {
    return static_cast<double>((r >> 40) % 100000) / 100.0;
});
const auto kPointers = makeValues<const void*>([](std::uint64_t r) {
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(r & 0x7fffffffffffULL));
});
const std::array<const char*, 4> kTexts = {"motor", "speed=", "door open", "overheat"};

template <typename Values>
const auto& pick(const Values& values, std::size_t i)
{
    return values[i % values.size()];
}

// ---- LogStream

template <const auto& Values>
void BM_LogStream(benchmark::State& state)
{
    std::size_t i = 0;
    for (auto _ : state) {
        LogStream stream;
        stream << pick(Values, i++);
        benchmark::DoNotOptimize(stream.buffer().data());
        benchmark::ClobberMemory();
    }
}

// ---- snprintf

template <typename T>
int formatWithSnprintf(char* buf, std::size_t size, T value);
template <>
int formatWithSnprintf(char* buf, std::size_t size, int v) { return std::snprintf(buf, size, "%d", v); }
template <>
int formatWithSnprintf(char* buf, std::size_t size, long long v) { return std::snprintf(buf, size, "%lld", v); }
template <>
int formatWithSnprintf(char* buf, std::size_t size, double v) { return std::snprintf(buf, size, "%.12g", v); }
template <>
int formatWithSnprintf(char* buf, std::size_t size, const void* v) { return std::snprintf(buf, size, "%p", v); }
template <>
int formatWithSnprintf(char* buf, std::size_t size, const char* v) { return std::snprintf(buf, size, "%s", v); }

template <const auto& Values>
void BM_Snprintf(benchmark::State& state)
{
    std::size_t i = 0;
    for (auto _ : state) {
        char buf[32];
        int n = formatWithSnprintf(buf, sizeof buf, pick(Values, i++));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
}

// ---- std::ostringstream, reused: rewinding costs far less than building one
// per value, so this is the stream's best case.

template <const auto& Values>
void BM_Ostringstream(benchmark::State& state)
{
    std::ostringstream os;
    os.precision(12);
    std::size_t i = 0;
    for (auto _ : state) {
        os.seekp(0);
        os << pick(Values, i++);
        benchmark::DoNotOptimize(os.tellp());
        benchmark::ClobberMemory();
    }
}

// ---- fmt::format_to

template <typename T>
char* formatWithFmt(char* buf, T value)
{
    return fmt::format_to(buf, "{}", value);
}
template <>
char* formatWithFmt(char* buf, double value)
{
    return fmt::format_to(buf, "{:.12g}", value);
}

template <const auto& Values>
void BM_FmtFormatTo(benchmark::State& state)
{
    std::size_t i = 0;
    for (auto _ : state) {
        char buf[32];
        char* end = formatWithFmt(buf, pick(Values, i++));
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
}

#define VX_COMPARE(values, label)                                                         \
    BENCHMARK_TEMPLATE(BM_LogStream, values)->Name("LogStream/" label);                 \
    BENCHMARK_TEMPLATE(BM_Snprintf, values)->Name("snprintf/" label);                   \
    BENCHMARK_TEMPLATE(BM_Ostringstream, values)->Name("ostringstream/" label);         \
    BENCHMARK_TEMPLATE(BM_FmtFormatTo, values)->Name("fmt_format_to/" label)

VX_COMPARE(kInts, "int");
VX_COMPARE(kInt64s, "int64");
VX_COMPARE(kDoubles, "double");
VX_COMPARE(kShortDoubles, "short_double");
VX_COMPARE(kPointers, "pointer");
VX_COMPARE(kTexts, "short_text");

// ---- A typical statement: text, two ints and a double, handed to a sink that
// does nothing.

void discardLine(int, const char*, int) {}

template <const auto& Doubles>
void BM_TypicalLine(benchmark::State& state)
{
    LogLine::setSink(discardLine);
    std::size_t i = 0;
    for (auto _ : state) {
        LogLine line(2, "motor");
        line.stream() << "speed " << pick(kInts, i) << " pos " << pick(kInts, i + 1) << " load "
                      << pick(Doubles, i);
        ++i;
    }
    LogLine::setSink(SinkFunc());
}
BENCHMARK_TEMPLATE(BM_TypicalLine, kShortDoubles)->Name("TypicalLine/LogLine/short_double");
BENCHMARK_TEMPLATE(BM_TypicalLine, kDoubles)->Name("TypicalLine/LogLine/double");

// The same line through snprintf and fmt, then to the same sink, for scale.
// Format writes the line into the buffer and returns its length.
template <const auto& Doubles, typename Format>
void runTypicalLine(benchmark::State& state, Format format)
{
    std::size_t i = 0;
    for (auto _ : state) {
        char buf[kLineCapacity];
        const int n = format(buf, sizeof buf, pick(kInts, i), pick(kInts, i + 1), pick(Doubles, i));
        ++i;
        discardLine(2, buf, n);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
}

template <const auto& Doubles>
void BM_TypicalLineSnprintf(benchmark::State& state)
{
    runTypicalLine<Doubles>(state, [](char* buf, std::size_t size, int a, int b, double d) {
        return std::snprintf(buf, size, "motor speed %d pos %d load %.12g\n", a, b, d);
    });
}
BENCHMARK_TEMPLATE(BM_TypicalLineSnprintf, kShortDoubles)->Name("TypicalLine/snprintf/short_double");
BENCHMARK_TEMPLATE(BM_TypicalLineSnprintf, kDoubles)->Name("TypicalLine/snprintf/double");

template <const auto& Doubles>
void BM_TypicalLineFmt(benchmark::State& state)
{
    runTypicalLine<Doubles>(state, [](char* buf, std::size_t size, int a, int b, double d) {
        return static_cast<int>(fmt::format_to_n(buf, size, "motor speed {} pos {} load {:.12g}\n", a, b, d).size);
    });
}
BENCHMARK_TEMPLATE(BM_TypicalLineFmt, kShortDoubles)->Name("TypicalLine/fmt_format_to_n/short_double");
BENCHMARK_TEMPLATE(BM_TypicalLineFmt, kDoubles)->Name("TypicalLine/fmt_format_to_n/double");

void BM_AppendTimeCached(benchmark::State& state)
{
    LogLine::setSink(discardLine);
    for (auto _ : state) {
        LogLine line;
        line.appendTime();
    }
    LogLine::setSink(SinkFunc());
}
BENCHMARK(BM_AppendTimeCached)->Name("LogLine/appendTime_cached");

} // namespace

BENCHMARK_MAIN();
