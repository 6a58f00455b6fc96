// The result pane's content. It is built in one pass, and must come out as
// exactly the document that appending the record blocks one by one as plain
// text gives: same paragraphs, same text, same formats, same font. Where a
// block does not look like HTML that is also what QTextEdit::append() gives;
// where it does, append() would render it, and the pane must not.
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

#include "ResultPane.h"

using SystemLog::RecordList;

namespace {

QString block(const QPair<QString, QString>& record)
{
    return record.first + QStringLiteral(":\n") + record.second;
}

// What QTextEdit::append() does for text it takes as plain: a new paragraph
// with the edit cursor's formats unless the document is empty, then the text.
void appendPlain(QTextEdit& pane, const QString& text)
{
    QTextDocument* doc = pane.document();
    const QTextCursor editCursor = pane.textCursor();
    QTextCursor tmp(doc);
    tmp.movePosition(QTextCursor::End);
    if (!doc->isEmpty())
        tmp.insertBlock(editCursor.blockFormat(), editCursor.charFormat());
    else
        tmp.setCharFormat(editCursor.charFormat());
    tmp.insertText(text);
}

// A pane filled the slow way: font set, cleared, then each text appended.
template <typename Append>
void fillReference(QTextEdit& reference, int pixelSize, const QStringList& texts, Append append)
{
    QFont font;
    font.setPixelSize(pixelSize);
    reference.setFont(font);
    reference.clear();
    for (const QString& text : texts)
        append(reference, text);
}

void compareDocuments(const QTextEdit& actual, const QTextEdit& expected)
{
    QCOMPARE(actual.font(), expected.font());
    QCOMPARE(actual.document()->defaultFont(), expected.document()->defaultFont());
    QCOMPARE(actual.toPlainText(), expected.toPlainText());
    QCOMPARE(actual.document()->blockCount(), expected.document()->blockCount());
    for (QTextBlock a = actual.document()->begin(), e = expected.document()->begin(); a.isValid();
         a = a.next(), e = e.next()) {
        QCOMPARE(a.text(), e.text());
        QVERIFY(a.blockFormat() == e.blockFormat() && a.charFormat() == e.charFormat());
        QVERIFY(a.textFormats() == e.textFormats()); // every fragment's format and extent
    }
}

RecordList manyRecords(int count)
{
    RecordList records;
    for (int i = 0; i < count; ++i)
        records.append({QTime(10, 0).addSecs(i).toString(QStringLiteral("2024-05-01 hh:mm:ss")),
                        QStringLiteral("记录 %1\n第二行").arg(i)});
    return records;
}

} // namespace

class TestQuarrowPane : public QObject
{
    Q_OBJECT

private slots:
    void sameDocumentAsAppending_data();
    void sameDocumentAsAppending();
    void noticeReplacesEverything_data();
    void noticeReplacesEverything();
};

void TestQuarrowPane::sameDocumentAsAppending_data()
{
    QTest::addColumn<RecordList>("records");
    QTest::newRow("one record") << RecordList{{"2024-05-01 08:00:00", "开机"}};
    QTest::newRow("two records") << RecordList{{"2024-05-01 08:00:00", "a"}, {"2024-05-01 08:00:01", "b"}};
    QTest::newRow("message with line feeds") << RecordList{{"2024-05-01 08:00:00", "one\ntwo\nthree"}};
    QTest::newRow("message ending in a line feed") << RecordList{{"t1", "m1\n"}, {"t2", "m2\n"}};
    QTest::newRow("carriage return and line feed") << RecordList{{"t", "dos\r\nline"}};
    QTest::newRow("bold tags stay text") << RecordList{{"t", "<b>x</b>"}};
    QTest::newRow("heading stays text") << RecordList{{"t", "<h1>alarm</h1>"}};
    QTest::newRow("entity stays as typed") << RecordList{{"t", "<i>&amp;</i>"}};
    QTest::newRow("less-than sign") << RecordList{{"t", "a < b"}, {"t", "<p>para</p>"}, {"t", "<x> a < b"}};
    QTest::newRow("empty message and time") << RecordList{{"", ""}, {"", ""}};
    QTest::newRow("percent placeholders stay") << RecordList{{"%1", "%2 %1"}};
    QTest::newRow("tabs and unicode separator") << RecordList{{"t", QString("a\tb") + QChar(0x2029) + "c"}};
    QTest::newRow("a thousand records") << manyRecords(1000);
}

// Starting from a notice, so the font has to change back as well.
void TestQuarrowPane::sameDocumentAsAppending()
{
    QFETCH(RecordList, records);
    QTextEdit pane;
    ResultPane::showNotice(&pane, ResultPane::notFoundText());
    ResultPane::showRecords(&pane, records);

    QStringList texts;
    bool plainLooking = true;
    for (const auto& record : records) {
        texts << block(record);
        plainLooking = plainLooking && !Qt::mightBeRichText(texts.last());
    }
    QTextEdit reference;
    fillReference(reference, 18, texts, appendPlain);
    compareDocuments(pane, reference);

    if (plainLooking) {
        QTextEdit qtAppended;
        fillReference(qtAppended, 18, texts, [](QTextEdit& edit, const QString& text) { edit.append(text); });
        compareDocuments(pane, qtAppended);
    }
}

void TestQuarrowPane::noticeReplacesEverything_data()
{
    QTest::addColumn<QString>("notice");
    QTest::newRow("not found") << ResultPane::notFoundText();
    QTest::newRow("failure with reason") << ResultPane::queryFailedText(QStringLiteral("no such table: <SystemInfo>"));
}

void TestQuarrowPane::noticeReplacesEverything()
{
    QFETCH(QString, notice);
    QTextEdit pane;
    ResultPane::showRecords(&pane, manyRecords(3));
    ResultPane::showNotice(&pane, notice);

    QTextEdit reference;
    fillReference(reference, 30, {notice}, appendPlain);
    compareDocuments(pane, reference);
}

QTEST_MAIN(TestQuarrowPane)
#include "tst_quarrow_pane.moc"
