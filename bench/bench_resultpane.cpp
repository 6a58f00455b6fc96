// How long the result pane takes to show a large query result: the one-pass
// plain-text fill the viewer uses, against appending record after record with
// QTextEdit::append() for comparison. "Layout" variants also lay out the
// whole document, as scrolling to the end would.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTextDocument>
#include <QTextEdit>

#include "ResultPane.h"

using SystemLog::RecordList;

namespace {

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

// Fills a shown 776 x 500 pane (the window's) with `count` records per iteration.
template <typename Fill>
void measure(benchmark::State& state, Fill fill)
{
    const RecordList records = sampleRecords(int(state.range(0)));
    QTextEdit pane;
    pane.resize(776, 500);
    pane.show();
    for (auto _ : state)
        fill(pane, records);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ShowRecords(benchmark::State& state)
{
    measure(state, [](QTextEdit& pane, const RecordList& records) { ResultPane::showRecords(&pane, records); });
}
BENCHMARK(BM_ShowRecords)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ShowRecordsAndLayout(benchmark::State& state)
{
    measure(state, [](QTextEdit& pane, const RecordList& records) {
        ResultPane::showRecords(&pane, records);
        pane.moveCursor(QTextCursor::End);
        pane.ensureCursorVisible();
        QCoreApplication::processEvents();
    });
}
BENCHMARK(BM_ShowRecordsAndLayout)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The fill as it would be with one append() per record.
void BM_AppendOneByOne(benchmark::State& state)
{
    measure(state, [](QTextEdit& pane, const RecordList& records) {
        QFont font;
        font.setPixelSize(18);
        pane.setFont(font);
        pane.clear();
        for (const auto& record : records)
            pane.append(record.first + QStringLiteral(":\n") + record.second);
    });
}
BENCHMARK(BM_AppendOneByOne)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

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
