#include <QtTest>

#include <cstdlib>
#include <new>
#include <string>

#include <vxSyslog/vxLogging.h>

// This binary replaces the global operator new and delete, so that it can count
// what a log statement allocates. The replacements forward to malloc and free;
// under AddressSanitizer those are the sanitizer's own, so every block is still
// checked, and since every new and delete in the process resolves to the pair
// below, the allocator never sees a mismatched pair.
//
// Only allocations made on the thread that opened a counting window are
// counted, so that nothing the framework does on other threads can leak in.

namespace {

thread_local bool t_counting = false;
thread_local long t_allocations = 0;

// An alignment of 0 stands for malloc's own.
void* allocate(std::size_t size, std::align_val_t alignment = std::align_val_t(0))
{
    if (t_counting)
        ++t_allocations;
    const std::size_t align = static_cast<std::size_t>(alignment);
    if (align == 0)
        return std::malloc(size ? size : 1);
    void* p = nullptr;
    return posix_memalign(&p, align < sizeof(void*) ? sizeof(void*) : align, size ? size : 1) == 0 ? p : nullptr;
}

void* allocateOrThrow(std::size_t size, std::align_val_t alignment = std::align_val_t(0))
{
    if (void* p = allocate(size, alignment))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocateOrThrow(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocateOrThrow(size, a); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return allocate(size, a); }
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return allocate(size, a); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

using namespace SystemLog;

using BuildLine = void (*)();
Q_DECLARE_METATYPE(BuildLine)

namespace {

void discardLine(int, const char*, int) {}

// Counts the operator new calls that `body` makes on this thread.
template <typename Body>
long allocationsDuring(Body body)
{
    t_allocations = 0;
    t_counting = true;
    body();
    t_counting = false;
    return t_allocations;
}

} // namespace

class tst_LogNoAlloc : public QObject
{
    Q_OBJECT

private slots:
    void countingSeesLibraryAllocations();
    void finishedLineAllocatesNothing_data();
    void finishedLineAllocatesNothing();
};

void tst_LogNoAlloc::countingSeesLibraryAllocations()
{
    // toString is the one operation of the stream that allocates: if this
    // count stayed 0 the replacement would not be in effect and the test
    // below would prove nothing.
    LineBuffer<kLineCapacity> buffer;
    buffer.append(std::string(100, 'x').c_str(), 100);
    std::string copy;
    QVERIFY(allocationsDuring([&] { copy = buffer.toString(); }) >= 1);
    QCOMPARE(copy, std::string(100, 'x'));
}

void tst_LogNoAlloc::finishedLineAllocatesNothing_data()
{
    QTest::addColumn<BuildLine>("build");
    QTest::newRow("text, integers, double, pointer") << BuildLine([] {
        static int marker = 0;
        LogLine line(3, "motor");
        line.stream() << "speed=" << 1200 << " pos=" << -45LL << " load=" << 0.75
                      << " at " << static_cast<const void*>(&marker) << ' '
                      << static_cast<unsigned short>(7) << SizedText("ok", 2)
                      << FormattedValue("%08x", 0xbeefu);
    });
    QTest::newRow("time appended") << BuildLine([] {
        LogLine line(1, "login");
        line.appendTime();
        line.stream() << "user " << 42;
    });
    QTest::newRow("line overflowing its buffer") << BuildLine([] {
        LogLine line(4);
        for (int i = 0; i < 1000; ++i)
            line.stream() << "piece " << i << ' ' << i * 0.5;
    });
}

void tst_LogNoAlloc::finishedLineAllocatesNothing()
{
    QFETCH(BuildLine, build);
    // Installed outside the window; a function pointer fits std::function's
    // inline storage. Construction, streaming, the closing newline and the
    // call into the sink all happen inside it.
    LogLine::setSink(discardLine);
    const long allocations = allocationsDuring(build);
    LogLine::setSink(SinkFunc());
    QCOMPARE(allocations, 0L);
}

QTEST_MAIN(tst_LogNoAlloc)
#include "tst_lognoalloc.moc"
