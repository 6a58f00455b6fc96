// The result pane as the operator uses it: what it shows and in which font,
// what copying hands to the clipboard (exactly what the plain-text editor
// that used to be the pane copied, or a refusal past its limit), finding,
// scrolling by keys, wheel, touchpad and scroll bar to exactly which records,
// selecting by mouse and keys across records, and results far too large to
// lay out whole, whose pieces never split a pair of characters.
#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include "PaneFindBar.h"
#include "PaneText.h"
#include "QuarrowTestSupport.h"
#include "ResultPane.h"

using SystemLog::RecordList;

namespace {

RecordList manyRecords(int count)
{
    RecordList records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append({QTime(0, 0).addSecs(i % 86400).toString(QStringLiteral("2024-05-01 hh:mm:ss")),
                        QStringLiteral("记录 %1 系统状态正常\n").arg(i)});
    return records;
}

// Many records sharing their texts: only the list itself is allocated, so
// the test stays quick under the sanitizers.
RecordList largeResult(int count)
{
    const QString time = QStringLiteral("2024-05-01 10:00:00");
    const QString message = QStringLiteral("系统状态：CPU 占用 35%，内存占用 52%\n");
    RecordList records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append({time, message});
    return records;
}

// What the old pane (a plain-text document of the joined blocks) put on the
// clipboard after select-all and copy.
QString oldPaneCopy(const RecordList& records)
{
    QStringList blocks;
    for (const auto& record : records)
        blocks << record.first + QStringLiteral(":\n") + record.second;
    QTextEdit old;
    old.document()->setPlainText(blocks.join(QLatin1Char('\n')));
    old.selectAll();
    old.copy();
    return QApplication::clipboard()->text();
}

QString copied(ResultPane& pane)
{
    QApplication::clipboard()->clear();
    QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
    return QApplication::clipboard()->text();
}

void press(ResultPane& pane, Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    for (int i = 0; i < times; ++i)
        QTest::keyClick(&pane, key, modifiers);
}

void dragOver(ResultPane& pane, const QPoint& from, const QPoint& to)
{
    QTest::mousePress(pane.viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane.viewport(), &move);
    QTest::mouseRelease(pane.viewport(), Qt::LeftButton, Qt::NoModifier, to);
}

QWheelEvent wheel(ResultPane& pane, const QPoint& angle, const QPoint& pixels = QPoint())
{
    const QPointF at(100, 100);
    return QWheelEvent(at, pane.viewport()->mapToGlobal(at.toPoint()), pixels, angle, Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
}

// The height of each of the records shown (all laid out alike), measured by
// scrolling by pixels; the view goes back to the top.
int recordHeight(ResultPane& pane)
{
    const int pixels = 2000; // less than the records below the view are high
    QWheelEvent down = wheel(pane, QPoint(), QPoint(0, -pixels));
    QApplication::sendEvent(pane.viewport(), &down);
    const int height = (pixels - pane.firstVisibleRecordOffset()) / std::max(1, pane.firstVisibleRecord());
    QWheelEvent up = wheel(pane, QPoint(), QPoint(0, pixels));
    QApplication::sendEvent(pane.viewport(), &up);
    return height;
}

// Makes the view exactly `records` of the records shown high; returns the
// height of one.
int fitView(ResultPane& pane, int records)
{
    const int height = recordHeight(pane);
    pane.resize(pane.width(), pane.height() - pane.viewport()->height() + records * height);
    return height;
}

// Whether anything but the background is painted in the pane's view.
bool paintsSomething(ResultPane& pane)
{
    const QImage image = pane.viewport()->grab().toImage();
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            if (image.pixel(x, y) != background)
                return true;
    return false;
}

} // namespace

class tst_QuarrowPane : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void copiesWhatTheOldPaneCopied_data();
    void copiesWhatTheOldPaneCopied();
    void refusesToCopyPastTheLimit();
    void shownTextAndFont_data();
    void shownTextAndFont();
    void findReachesARecordDeepInALargeResult();
    void findBarNextPreviousAndEscape();
    void keysReachBothEnds_data();
    void keysReachBothEnds();
    void wheelMovesTheView_data();
    void wheelMovesTheView();
    void scrollBarMovesTheView();
    void shiftKeysSelectAcrossRecords();
    void mouseSelectsAcrossRecords();
    void aMegabyteRecordIsShown();
    void piecesKeepPairsTogether_data();
    void piecesKeepPairsTogether();
    void piecesStartAfterASpace_data();
    void piecesStartAfterASpace();
    void aLongLineOfWordsBreaksAtSpaces();
    void aLineEndAcrossPiecesIsOneLineEnd_data();
    void aLineEndAcrossPiecesIsOneLineEnd();
    void narrowingRewrapsAndKeepsTheTopRecord();

private:
    std::unique_ptr<ResultPane> m_pane;
};

// A pane the size it has in the window, shown and focused.
void tst_QuarrowPane::init()
{
    QApplication::setWheelScrollLines(3);
    m_pane.reset(new ResultPane);
    m_pane->resize(776, 500);
    m_pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
    m_pane->activateWindow();
    m_pane->setFocus();
}

void tst_QuarrowPane::copiesWhatTheOldPaneCopied_data()
{
    QTest::addColumn<RecordList>("records");
    QTest::newRow("one record") << RecordList{{"2024-05-01 08:00:00", "开机"}};
    QTest::newRow("two records") << RecordList{{"2024-05-01 08:00:00", "a"}, {"2024-05-01 08:00:01", "b"}};
    QTest::newRow("message with line feeds") << RecordList{{"2024-05-01 08:00:00", "one\ntwo\nthree"}};
    QTest::newRow("message ending in a line feed") << RecordList{{"t1", "m1\n"}, {"t2", "m2\n"}};
    QTest::newRow("carriage returns") << RecordList{{"t", "dos\r\nline\rmac"}};
    QTest::newRow("bold tags stay text") << RecordList{{"t", "<b>x</b>"}};
    QTest::newRow("heading and entity stay text") << RecordList{{"t", "<h1>alarm</h1> <i>&amp;</i>"}};
    QTest::newRow("less-than sign") << RecordList{{"t", "a < b"}, {"t", "<p>para</p>"}, {"t", "<x> a < b"}};
    QTest::newRow("empty message and time") << RecordList{{"", ""}, {"", ""}};
    QTest::newRow("percent placeholders stay") << RecordList{{"%1", "%2 %1"}};
    QTest::newRow("tabs and unicode separators")
        << RecordList{{"t", QString("a\tb") + QChar(0x2029) + "c" + QChar(0x2028) + "d" + QChar(0xa0) + "e"}};
    QTest::newRow("a thousand records") << manyRecords(1000);
    QTest::newRow("a record longer than a layout piece")
        << RecordList{{"t", QString(3 * ResultPane::kPieceLength + 7, QLatin1Char('y')) + "\nend"}, {"t2", "m"}};
}

// Select-all and copy, by keys, as the operator does it.
void tst_QuarrowPane::copiesWhatTheOldPaneCopied()
{
    QFETCH(RecordList, records);
    const QString expected = oldPaneCopy(records);
    m_pane->showNotice(ResultPane::notFoundText());
    m_pane->showRecords(records);
    QTest::keyClick(m_pane.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(copied(*m_pane), expected);
    QCOMPARE(m_pane->toPlainText(), expected);
    QCOMPARE(m_pane->recordCount(), records.size());
    QVERIFY(paintsSomething(*m_pane));
}

// Past the limit nothing reaches the clipboard and the operator is told why.
void tst_QuarrowPane::refusesToCopyPastTheLimit()
{
    // Long messages sharing one text: few records, many characters.
    const QString message = QStringLiteral("报警：主轴温度过高 ").repeated(400);
    RecordList records;
    for (int i = 0; i < 5000; ++i)
        records.append({QStringLiteral("2024-05-01 10:00:00"), message});
    qint64 characters = -1;
    for (const auto& record : records)
        characters += record.first.size() + 2 + record.second.size() + 1;
    QVERIFY(characters > ResultPane::kMaxCopyCharacters);
    m_pane->showRecords(records);
    QApplication::clipboard()->setText(QStringLiteral("earlier"));
    QuarrowTest::ModalDriver modals;
    QTest::keyClick(m_pane.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(m_pane.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(modals.seen().size(), 1);
    QCOMPARE(modals.seen().first().title, QStringLiteral("提示"));
    QCOMPARE(modals.seen().first().text, ResultPane::copyTooLargeText(characters));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("earlier"));
}

void tst_QuarrowPane::shownTextAndFont_data()
{
    QTest::addColumn<QString>("fill"); // "records", "not found", "failure", or "" for a new pane
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pixelSize"); // 0: the pane's own font, never set
    QTest::newRow("new pane") << QString() << QString() << 0;
    QTest::newRow("records") << "records" << "2024-05-01 10:00:00:\n记录\n" << 18;
    QTest::newRow("nothing found") << "not found" << "没有找到相关记录" << 30;
    QTest::newRow("query failed") << "failure" << "查询失败：no such table: <SystemInfo>" << 30;
}

// Each fill replaces whatever was shown before, selection included.
void tst_QuarrowPane::shownTextAndFont()
{
    QFETCH(QString, fill);
    QFETCH(QString, text);
    QFETCH(int, pixelSize);
    if (!fill.isEmpty()) {
        m_pane->showRecords(manyRecords(3));
        QTest::keyClick(m_pane.get(), Qt::Key_A, Qt::ControlModifier);
        m_pane->showNotice(QStringLiteral("earlier notice"));
    }
    if (fill == QLatin1String("records"))
        m_pane->showRecords({{"2024-05-01 10:00:00", "记录\n"}});
    else if (fill == QLatin1String("not found"))
        m_pane->showNotice(ResultPane::notFoundText());
    else if (fill == QLatin1String("failure"))
        m_pane->showNotice(ResultPane::queryFailedText(QStringLiteral("no such table: <SystemInfo>")));

    QVERIFY(!m_pane->hasSelection());
    // Every key works on whatever is shown, an empty pane included.
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_End,
                        Qt::Key_Home})
        press(*m_pane, key, 2, Qt::ShiftModifier);
    QCOMPARE(m_pane->toPlainText(), text);
    QCOMPARE(m_pane->font().pixelSize(), pixelSize ? pixelSize : QFont().pixelSize());
    QCOMPARE(paintsSomething(*m_pane), !text.isEmpty());
}

// A match below the view is brought up to its bottom edge: the view ends with
// the match's line (the record's second of three) and begins with the last
// line of the record seven records before it.
void tst_QuarrowPane::findReachesARecordDeepInALargeResult()
{
    RecordList records = largeResult(200000);
    records[150000].second = QStringLiteral("X 轴伺服过载 Overload-150000\n");
    m_pane->showRecords(records);
    fitView(*m_pane, 7);
    QCOMPARE(m_pane->firstVisibleRecord(), 0);
    QCOMPARE(m_pane->lastVisibleRecord(), 6);

    QVERIFY(m_pane->find(QStringLiteral("overload-150000")));
    QCOMPARE(m_pane->selectedText(), QStringLiteral("Overload-150000"));
    QCOMPARE(m_pane->firstVisibleRecord(), 150000 - 7);
    QCOMPARE(m_pane->lastVisibleRecord(), 150000);
    QCOMPARE(copied(*m_pane), QStringLiteral("Overload-150000"));

    // The only match: found again from itself, in both directions, in view.
    QVERIFY(m_pane->find(QStringLiteral("Overload-150000"), true));
    QCOMPARE(m_pane->firstVisibleRecord(), 150000 - 7);
    QCOMPARE(m_pane->lastVisibleRecord(), 150000);
    QVERIFY(!m_pane->find(QStringLiteral("no such words")));
}

void tst_QuarrowPane::findBarNextPreviousAndEscape()
{
    RecordList records = manyRecords(300);
    for (int i : {3, 250})
        records[i].second = QStringLiteral("报警号 4001\n");
    m_pane->showRecords(records);
    QTest::keyClick(m_pane.get(), Qt::Key_F, Qt::ControlModifier);
    PaneFindBar* bar = m_pane->findBar();
    QVERIFY(bar->isVisible());
    auto* edit = bar->findChild<QLineEdit*>(QStringLiteral("findText"));
    QVERIFY(edit->hasFocus());

    // The find bar takes room from the view: seven records fit above it.
    const int height = recordHeight(*m_pane);
    m_pane->resize(m_pane->width(), m_pane->height() - m_pane->viewport()->height() + 7 * height);
    edit->setText(QStringLiteral("报警号"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(m_pane->firstVisibleRecord(), 0); // record 3 is on the first screen
    QCOMPARE(m_pane->lastVisibleRecord(), 6);
    QCOMPARE(m_pane->selectedText(), QStringLiteral("报警号"));
    QTest::keyClick(edit, Qt::Key_Return); // below: its line comes up to the bottom edge
    QCOMPARE(m_pane->firstVisibleRecord(), 250 - 7);
    QCOMPARE(m_pane->lastVisibleRecord(), 250);
    QTest::keyClick(edit, Qt::Key_Return); // wraps to the first again, above: its line to the top
    QCOMPARE(m_pane->firstVisibleRecord(), 3);
    QCOMPARE(m_pane->firstVisibleRecordOffset(), height / 3);
    QCOMPARE(m_pane->lastVisibleRecord(), 3 + 7);
    bar->findChild<QToolButton*>(QStringLiteral("findPrevious"))->click(); // and back past the start
    QCOMPARE(m_pane->firstVisibleRecord(), 250 - 7);
    QCOMPARE(m_pane->lastVisibleRecord(), 250);
    QCOMPARE(m_pane->selectedText(), QStringLiteral("报警号"));

    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QVERIFY(m_pane->hasFocus());
    QCOMPARE(m_pane->selectedText(), QStringLiteral("报警号"));
}

void tst_QuarrowPane::keysReachBothEnds_data()
{
    QTest::addColumn<int>("forward");
    QTest::addColumn<int>("backward");
    QTest::addColumn<int>("presses"); // at most, to reach the far end
    QTest::newRow("page keys") << int(Qt::Key_PageDown) << int(Qt::Key_PageUp) << 200;
    QTest::newRow("arrow keys") << int(Qt::Key_Down) << int(Qt::Key_Up) << 2000;
    QTest::newRow("Home and End") << int(Qt::Key_End) << int(Qt::Key_Home) << 1;
}

void tst_QuarrowPane::keysReachBothEnds()
{
    QFETCH(int, forward);
    QFETCH(int, backward);
    QFETCH(int, presses);
    const int count = 400;
    m_pane->showRecords(manyRecords(count));
    fitView(*m_pane, 7);
    QScrollBar* bar = m_pane->verticalScrollBar();
    for (int i = 0; i < presses && bar->value() < bar->maximum(); ++i)
        press(*m_pane, Qt::Key(forward));
    QCOMPARE(m_pane->lastVisibleRecord(), count - 1);
    QCOMPARE(m_pane->firstVisibleRecord(), count - 7);
    QCOMPARE(m_pane->firstVisibleRecordOffset(), 0);
    QCOMPARE(bar->value(), bar->maximum());
    for (int i = 0; i < presses && bar->value() > 0; ++i)
        press(*m_pane, Qt::Key(backward));
    QCOMPARE(m_pane->firstVisibleRecord(), 0);
    QCOMPARE(bar->value(), 0);
}

void tst_QuarrowPane::wheelMovesTheView_data()
{
    QTest::addColumn<QList<int>>("angles"); // angleDelta().y() of each event, in eighths of a degree
    QTest::addColumn<int>("pixels");        // pixelDelta().y() of each event instead, where not 0
    QTest::addColumn<int>("lines");         // lines the view moves down, three a notch
    QTest::addColumn<int>("extraPixels");
    QTest::newRow("three notches down") << QList<int>{-120, -120, -120} << 0 << 9 << 0;
    QTest::newRow("eight touchpad steps of 15 make a notch") << QList<int>{-15, -15, -15, -15, -15, -15, -15, -15} << 0 << 3 << 0;
    QTest::newRow("four steps of 15 make a line and a half") << QList<int>{-15, -15, -15, -15} << 0 << 1 << 0;
    QTest::newRow("turning back drops what was left over") << QList<int>{-100, 50} << 0 << 1 << 0;
    QTest::newRow("up at the top stays") << QList<int>{120} << 0 << 0 << 0;
    QTest::newRow("pixels where the platform gives them") << QList<int>{-120, -120} << -37 << 0 << 74;
}

// Exactly where the view lands, in records of the same height.
void tst_QuarrowPane::wheelMovesTheView()
{
    QFETCH(QList<int>, angles);
    QFETCH(int, pixels);
    QFETCH(int, lines);
    QFETCH(int, extraPixels);
    m_pane->showRecords(manyRecords(1000));
    const int height = recordHeight(*m_pane);
    for (int angle : angles) {
        QWheelEvent event = wheel(*m_pane, QPoint(0, angle), QPoint(0, pixels));
        QApplication::sendEvent(m_pane->viewport(), &event);
    }
    const int moved = lines * m_pane->fontMetrics().lineSpacing() + extraPixels;
    QCOMPARE(m_pane->firstVisibleRecord(), moved / height);
    QCOMPARE(m_pane->firstVisibleRecordOffset(), moved % height);
}

// The scroll bar counts estimated lines, two for each of these records (a
// time line and a short message), and is exact about the record at the top.
void tst_QuarrowPane::scrollBarMovesTheView()
{
    const int count = 10000;
    m_pane->showRecords(manyRecords(count));
    fitView(*m_pane, 7);
    QScrollBar* bar = m_pane->verticalScrollBar();
    bar->setValue(9001);
    QCOMPARE(m_pane->firstVisibleRecord(), 4500);
    QCOMPARE(m_pane->lastVisibleRecord(), 4507);
    bar->setValue(bar->maximum());
    QCOMPARE(m_pane->firstVisibleRecord(), count - 7);
    QCOMPARE(m_pane->lastVisibleRecord(), count - 1);
    QVERIFY(paintsSomething(*m_pane));
}

// From the first character, Shift+arrows extend the selection line by line
// and character by character, across records; Shift+End takes everything.
void tst_QuarrowPane::shiftKeysSelectAcrossRecords()
{
    m_pane->showRecords(manyRecords(50));
    const QString all = m_pane->toPlainText();
    press(*m_pane, Qt::Key_Right, 5, Qt::ShiftModifier);
    QCOMPARE(m_pane->selectedText(), all.left(5));
    press(*m_pane, Qt::Key_Down, 4, Qt::ShiftModifier); // past record 0's three lines
    const QString lines = m_pane->selectedText();
    QVERIFY2(all.startsWith(lines) && lines.count(QLatin1Char('\n')) == 4, qPrintable(lines));
    QVERIFY(lines.contains(QStringLiteral("00:00:01:")));
    press(*m_pane, Qt::Key_End, 1, Qt::ShiftModifier);
    QCOMPARE(m_pane->selectedText(), all);
    press(*m_pane, Qt::Key_Left); // collapses
    QVERIFY(!m_pane->hasSelection());

    // A surrogate pair is one character to the arrow keys.
    m_pane->showRecords({{"t", QString::fromUtf8("a😀b")}});
    press(*m_pane, Qt::Key_Right, 4); // past "t:\na"
    press(*m_pane, Qt::Key_Right, 1, Qt::ShiftModifier);
    QCOMPARE(m_pane->selectedText(), QString::fromUtf8("😀"));
    press(*m_pane, Qt::Key_Left, 1, Qt::ShiftModifier);
    QVERIFY(!m_pane->hasSelection());
}

void tst_QuarrowPane::mouseSelectsAcrossRecords()
{
    m_pane->showRecords(manyRecords(50));
    const QString all = m_pane->toPlainText();
    const int line = m_pane->fontMetrics().lineSpacing();
    dragOver(*m_pane, QPoint(1, line / 2), QPoint(1, 7 * line + line / 2)); // from line 0 to line 7
    const QString dragged = m_pane->selectedText();
    QVERIFY2(all.startsWith(dragged) && dragged.count(QLatin1Char('\n')) == 7, qPrintable(dragged));
    QCOMPARE(copied(*m_pane), dragged);

    // Dragging below the view scrolls by as far as the pointer is below it,
    // and keeps extending the selection.
    const int height = recordHeight(*m_pane);
    dragOver(*m_pane, QPoint(1, line / 2), QPoint(1, m_pane->viewport()->height() + 5 * line));
    QCOMPARE(m_pane->firstVisibleRecord(), (5 * line + 1) / height);
    QCOMPARE(m_pane->firstVisibleRecordOffset(), (5 * line + 1) % height);
    QVERIFY(all.startsWith(m_pane->selectedText()));
    QVERIFY(m_pane->selectedText().size() > dragged.size());
    QVERIFY(!m_pane->isDragScrolling());

    // Held still below the view, it keeps scrolling until the button is released.
    QTest::mousePress(m_pane->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(1, line / 2));
    QMouseEvent below(QEvent::MouseMove, QPoint(1, m_pane->viewport()->height() + line), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_pane->viewport(), &below);
    QVERIFY(m_pane->isDragScrolling());
    const int first = m_pane->firstVisibleRecord();
    QTRY_VERIFY(m_pane->firstVisibleRecord() > first + 2);
    QTest::mouseRelease(m_pane->viewport(), Qt::LeftButton, Qt::NoModifier, below.pos());
    QVERIFY(!m_pane->isDragScrolling()); // so nothing scrolls it any more
    const int released = m_pane->firstVisibleRecord();
    QCoreApplication::processEvents();
    QCOMPARE(m_pane->firstVisibleRecord(), released);
    QVERIFY(m_pane->selectedText().count(QLatin1Char('\n')) > 3 * 2);
    QVERIFY(all.contains(m_pane->selectedText()));
}

// One message of a megabyte without a blank: shown at once, scrolled to its
// end, found in, and copied whole.
void tst_QuarrowPane::aMegabyteRecordIsShown()
{
    const QString message = QString(1 << 20, QLatin1Char('x')) + QStringLiteral("TAIL");
    m_pane->showRecords({{"2024-05-01 10:00:00", message}});
    QVERIFY(paintsSomething(*m_pane));
    QCOMPARE(m_pane->verticalScrollBar()->value(), 0);
    QVERIFY(m_pane->verticalScrollBar()->maximum() > 1000);

    press(*m_pane, Qt::Key_End);
    QCOMPARE(m_pane->verticalScrollBar()->value(), m_pane->verticalScrollBar()->maximum());
    QVERIFY(paintsSomething(*m_pane));
    press(*m_pane, Qt::Key_Left, 4, Qt::ShiftModifier);
    QCOMPARE(m_pane->selectedText(), QStringLiteral("TAIL"));
    press(*m_pane, Qt::Key_Home);
    QVERIFY(m_pane->find(QStringLiteral("xtail")));
    QCOMPARE(m_pane->selectedText(), QStringLiteral("xTAIL"));
    QTest::keyClick(m_pane.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(copied(*m_pane), QStringLiteral("2024-05-01 10:00:00:\n") + message);
}

void tst_QuarrowPane::piecesKeepPairsTogether_data()
{
    QTest::addColumn<QString>("slice"); // a piece of three, the character before it (if any) and two after
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    const QString pair = QString::fromUtf8("😀");
    QTest::newRow("nothing at either boundary") << "aXYZbc" << 1 << 1 << 3;
    QTest::newRow("the first piece") << "XYZbc" << 0 << 0 << 3;
    QTest::newRow("the last piece") << "aXYZ" << 1 << 1 << 3;
    QTest::newRow("a pair split at the end goes with this piece") << "aXY" + pair + "c" << 1 << 1 << 4;
    QTest::newRow("a pair split at the start went with the one before") << pair + "XYbc" << 1 << 2 << 2;
    QTest::newRow("\\r\\n split at the end goes with this piece") << "aXY\r\nc" << 1 << 1 << 4;
    QTest::newRow("\\r\\n split at the start went with the one before") << "\r\nXYbc" << 1 << 2 << 2;
    QTest::newRow("a line end right after the piece ends it") << "aXYZ\nb" << 1 << 1 << 4;
    QTest::newRow("\\r\\n right after the piece ends it") << "aXYZ\r\n" << 1 << 1 << 5;
    QTest::newRow("a line end at the start ended the one before") << "a\nXYbc" << 1 << 2 << 2;
    QTest::newRow("a line end after one stays") << "\n\nXYbc" << 1 << 2 << 2;
}

void tst_QuarrowPane::piecesKeepPairsTogether()
{
    QFETCH(QString, slice);
    QFETCH(int, before);
    QFETCH(int, start);
    QFETCH(int, length);
    const PaneText::Range range = PaneText::pieceRange(slice, before, 3);
    QCOMPARE(range.start, start);
    QCOMPARE(range.length, length);
}

void tst_QuarrowPane::piecesStartAfterASpace_data()
{
    QTest::addColumn<QString>("window"); // `before` characters, then two after the nominal start
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("start");
    QTest::newRow("a word across the nominal start moves to the next piece") << "ab cdef" << 5 << 3;
    QTest::newRow("no white space: the nominal start") << "abcdef" << 4 << 4;
    QTest::newRow("a space right before it") << "abc def" << 4 << 4;
    QTest::newRow("after a line end too") << "ab\ncdef" << 5 << 3;
    QTest::newRow("after an ideographic space") << QString::fromUtf8("甲乙\u3000丙丁戊") << 4 << 3;
    QTest::newRow("a space followed by \\r\\n: after the line end") << "ab \r\ncd" << 3 << 5;
    QTest::newRow("the first piece") << "abc" << 0 << 0;
}

void tst_QuarrowPane::piecesStartAfterASpace()
{
    QFETCH(QString, window);
    QFETCH(int, before);
    QFETCH(int, start);
    QCOMPARE(PaneText::pieceStart(window, before), start);
}

// A line of words six pieces long: every line the pane shows starts at the
// beginning of a word, where two pieces meet too. The caret goes down a line
// at a time from the start, selecting; each selection ends where a line starts.
void tst_QuarrowPane::aLongLineOfWordsBreaksAtSpaces()
{
    QString message;
    for (int i = 0; message.size() < 25528; ++i)
        message += QStringLiteral("word%1 ").arg(i % 100000, 5, 10, QLatin1Char('0'));
    const QString time = QStringLiteral("2024-05-01 10:00:00");
    m_pane->showRecords({{time, message}});
    press(*m_pane, Qt::Key_Home);
    int lines = 0;
    for (int selected = -1; selected < m_pane->selectedText().size(); ++lines) {
        selected = m_pane->selectedText().size();
        press(*m_pane, Qt::Key_Down, 1, Qt::ShiftModifier);
        const QString text = m_pane->selectedText();
        if (text.size() > time.size() + 2 && text.size() < time.size() + 2 + message.size())
            QVERIFY2(text.endsWith(QLatin1Char(' ')), qPrintable(text.right(12)));
    }
    QVERIFY(lines > 6);
    QCOMPARE(m_pane->selectedText(), time + QStringLiteral(":\n") + message);
}

void tst_QuarrowPane::aLineEndAcrossPiecesIsOneLineEnd_data()
{
    QTest::addColumn<int>("shift"); // where "\r\n" sits against the first piece's end
    QTest::newRow("split by the boundary") << 0;
    QTest::newRow("at the end of the first piece") << -1;
    QTest::newRow("at the start of the second piece") << 1;
}

// A message of 79 short lines and a longer one ended by "\r\n", then a
// tail; with its time line that is 82 lines, wherever the pieces are cut.
void tst_QuarrowPane::aLineEndAcrossPiecesIsOneLineEnd()
{
    QFETCH(int, shift);
    const QString time = QStringLiteral("2024-05-01 10:00:00");
    const int lineEnd = ResultPane::kPieceLength - 1 - (time.size() + 2) + shift; // where '\r' goes
    QString message = (QString(50, QLatin1Char('x')) + QLatin1Char('\n')).repeated(79);
    message += QString(lineEnd - message.size(), QLatin1Char('y')) + QStringLiteral("\r\ntail");
    m_pane->showRecords(QVector<QPair<QString, QString>>(1000, {time, QStringLiteral("m")}).toList());
    const int line = recordHeight(*m_pane) / 2; // two-line records measure a line
    m_pane->showRecords({{time, message}});
    press(*m_pane, Qt::Key_End);
    QCOMPARE((m_pane->firstVisibleRecordOffset() + m_pane->viewport()->height()) / line, 82);
    press(*m_pane, Qt::Key_Home);
    QTest::keyClick(m_pane.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(m_pane->selectedText(), time + QStringLiteral(":\n") + message.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

// Long lines wrap at the pane's width: a narrower pane needs more lines, and
// the record at the top stays there.
void tst_QuarrowPane::narrowingRewrapsAndKeepsTheTopRecord()
{
    RecordList records = manyRecords(200);
    for (auto& record : records)
        record.second = QStringLiteral("伺服过载 overload ").repeated(12) + QLatin1Char('\n');
    m_pane->showRecords(records);
    m_pane->verticalScrollBar()->setValue(m_pane->verticalScrollBar()->maximum() / 2);
    const int top = m_pane->firstVisibleRecord();
    const int wideLines = m_pane->verticalScrollBar()->maximum();
    const int wideShown = m_pane->lastVisibleRecord() - top;
    QVERIFY(top > 0);

    m_pane->resize(300, 500);
    QCOMPARE(m_pane->firstVisibleRecord(), top);
    QVERIFY(m_pane->verticalScrollBar()->maximum() > 2 * wideLines);
    QVERIFY(m_pane->lastVisibleRecord() - top < wideShown);
    QVERIFY(paintsSomething(*m_pane));
}

QTEST_MAIN(tst_QuarrowPane)
#include "tst_quarrow_pane.moc"
