// How the result pane copes with a large query result, against the pane it
// replaced (a QTextEdit filled with the joined record blocks in one
// setPlainText, as the viewer used to do), in the same run:
// - the benchmark's time: from the query's return to the first screen painted;
// - gap_ms: the longest the event loop was stuck afterwards, observed for
//   BENCH_OBSERVE_MS (default 2000) while PageDown is pressed every 100 ms;
// - rss_MB: the process's resident memory beyond the RecordList, after that.
// The pane is shown at 776 x 500, as in the window, on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <unistd.h>

#include "ResultPane.h"

using SystemLog::RecordList;

namespace {

// As the service stores them: a time stamp, a one-line message and its line feed.
RecordList sampleRecords(int count)
{
    RecordList records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append({QStringLiteral("2024-05-01 %1:%2:%3")
                            .arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                            .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                            .arg(i % 60, 2, 10, QLatin1Char('0')),
                        QStringLiteral("系统状态：CPU 占用 %1%，内存占用 %2%\n").arg(i % 100).arg(i % 70)});
    return records;
}

RecordList oneMegabyteRecord()
{
    return {{QStringLiteral("2024-05-01 10:00:00"), QString(1 << 20, QLatin1Char('x')) + QLatin1Char('\n')}};
}

RecordList dataset(int which)
{
    return which == 0 ? oneMegabyteRecord() : sampleRecords(which);
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The longest stretch the event loop did not come round, in ms, while the
// operator pages down through `pane` every 100 ms.
double longestGap(QWidget* pane)
{
    const int observeMs = qEnvironmentVariableIsSet("BENCH_OBSERVE_MS") ? qEnvironmentVariableIntValue("BENCH_OBSERVE_MS") : 2000;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(0);
    QTimer pager;
    QObject::connect(&pager, &QTimer::timeout, [pane] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(pane, &press);
    });
    pager.start(100);
    while (clock.elapsed() < observeMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return double(longest);
}

QString joinedBlocks(const RecordList& records)
{
    QString text;
    for (int i = 0; i < records.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        text += records.at(i).first + QStringLiteral(":\n") + records.at(i).second;
    }
    return text;
}

template <typename Pane, typename Fill>
void measure(benchmark::State& state, Fill fill)
{
    const RecordList records = dataset(int(state.range(0)));
    Pane pane;
    pane.resize(776, 500);
    pane.show();
    QCoreApplication::processEvents();
    const double before = residentMegabytes();
    for (auto _ : state) {
        fill(pane, records);
        pane.viewport()->repaint();
    }
    state.counters["gap_ms"] = longestGap(&pane);
    state.counters["rss_MB"] = residentMegabytes() - before;
}

void BM_ResultPane(benchmark::State& state)
{
    measure<ResultPane>(state, [](ResultPane& pane, const RecordList& records) { pane.showRecords(records); });
}

// The pane as it was: font, clear, one plain-text pass over the joined blocks.
void BM_OldTextEditPane(benchmark::State& state)
{
    measure<QTextEdit>(state, [](QTextEdit& pane, const RecordList& records) {
        QFont font;
        font.setPixelSize(18);
        pane.setFont(font);
        pane.clear();
        pane.document()->setPlainText(joinedBlocks(records));
    });
}

// Arg: record count, or 0 for one record with a 1 MB message without a blank.
BENCHMARK(BM_ResultPane)->Arg(200000)->Arg(1000000)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OldTextEditPane)->Arg(200000)->Arg(1000000)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
