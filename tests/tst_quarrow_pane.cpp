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

void resetLikeThePane(QTextEdit& pane, int pixelSize)
{
    QFont font;
    font.setPixelSize(pixelSize);
    pane.setFont(font);
    pane.clear();
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

void compareDocuments(const QTextEdit& actual, const QTextEdit& expected)
{
    QCOMPARE(actual.font(), expected.font());
    QCOMPARE(actual.document()->defaultFont(), expected.document()->defaultFont());
    QCOMPARE(actual.document()->blockCount(), expected.document()->blockCount());
    QCOMPARE(actual.toPlainText(), expected.toPlainText());
    QTextBlock a = actual.document()->begin();
    QTextBlock e = expected.document()->begin();
    for (; a.isValid() && e.isValid(); a = a.next(), e = e.next()) {
        QCOMPARE(a.text(), e.text());
        QVERIFY(a.blockFormat() == e.blockFormat());
        QVERIFY(a.charFormat() == e.charFormat());
        auto fa = a.begin();
        auto fe = e.begin();
        for (; !fa.atEnd() && !fe.atEnd(); ++fa, ++fe) {
            QCOMPARE(fa.fragment().text(), fe.fragment().text());
            QVERIFY(fa.fragment().charFormat() == fe.fragment().charFormat());
        }
        QCOMPARE(fa.atEnd(), fe.atEnd());
    }
    QCOMPARE(a.isValid(), e.isValid());
}

RecordList manyRecords(int count)
{
    RecordList records;
    for (int i = 0; i < count; ++i)
        records.append({QStringLiteral("2024-05-01 10:%1:%2").arg(i / 60 % 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0')),
                        QStringLiteral("记录 %1\n第二行").arg(i)});
    return records;
}

} // namespace

class TestQuarrowPane : public QObject
{
    Q_OBJECT

private slots:
    void sameDocumentAsPlainAppend_data();
    void sameDocumentAsPlainAppend();
    void sameDocumentAsQtAppendForPlainLookingText_data();
    void sameDocumentAsQtAppendForPlainLookingText();
    void htmlLookingTextIsNotRendered_data();
    void htmlLookingTextIsNotRendered();
    void noticeReplacesEverything_data();
    void noticeReplacesEverything();
};

void TestQuarrowPane::sameDocumentAsPlainAppend_data()
{
    QTest::addColumn<RecordList>("records");
    QTest::newRow("one record") << RecordList{{"2024-05-01 08:00:00", "开机"}};
    QTest::newRow("two records") << RecordList{{"2024-05-01 08:00:00", "a"}, {"2024-05-01 08:00:01", "b"}};
    QTest::newRow("message with line feeds") << RecordList{{"2024-05-01 08:00:00", "one\ntwo\nthree"}};
    QTest::newRow("message ending in a line feed") << RecordList{{"t1", "m1\n"}, {"t2", "m2\n"}};
    QTest::newRow("carriage return and line feed") << RecordList{{"t", "dos\r\nline"}};
    QTest::newRow("bold tags") << RecordList{{"t", "<b>x</b>"}};
    QTest::newRow("less-than sign") << RecordList{{"t", "a < b"}, {"t", "<p>para</p>"}};
    QTest::newRow("empty message and time") << RecordList{{"", ""}, {"", ""}};
    QTest::newRow("percent placeholders stay") << RecordList{{"%1", "%2 %1"}};
    QTest::newRow("tabs and unicode separator") << RecordList{{"t", QString("a\tb") + QChar(0x2029) + "c"}};
    QTest::newRow("a thousand records") << manyRecords(1000);
}

void TestQuarrowPane::sameDocumentAsPlainAppend()
{
    QFETCH(RecordList, records);
    QTextEdit pane;
    pane.setPlainText(QStringLiteral("left over from an earlier query"));
    ResultPane::showRecords(&pane, records);

    QTextEdit reference;
    resetLikeThePane(reference, 18);
    for (const auto& record : records)
        appendPlain(reference, block(record));

    compareDocuments(pane, reference);
    QCOMPARE(pane.font().pixelSize(), ResultPane::kRecordPixelSize);
    QCOMPARE(ResultPane::kRecordPixelSize, 18);
}

void TestQuarrowPane::sameDocumentAsQtAppendForPlainLookingText_data()
{
    QTest::addColumn<RecordList>("records");
    QTest::newRow("one record") << RecordList{{"2024-05-01 08:00:00", "用户 admin 登录"}};
    QTest::newRow("several multi-line records")
        << RecordList{{"2024-05-01 08:00:00", "x\ny"}, {"2024-05-01 08:00:01", "z\n"}, {"2024-05-01 08:00:02", "w"}};
    QTest::newRow("five hundred records") << manyRecords(500);
}

void TestQuarrowPane::sameDocumentAsQtAppendForPlainLookingText()
{
    QFETCH(RecordList, records);
    QTextEdit pane;
    ResultPane::showRecords(&pane, records);

    QTextEdit reference;
    resetLikeThePane(reference, 18);
    for (const auto& record : records) {
        QVERIFY(!Qt::mightBeRichText(block(record)));
        reference.append(block(record));
    }
    compareDocuments(pane, reference);
}

void TestQuarrowPane::htmlLookingTextIsNotRendered_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("bold") << QStringLiteral("<b>x</b>");
    QTest::newRow("heading") << QStringLiteral("<h1>alarm</h1>");
    QTest::newRow("entity") << QStringLiteral("<i>&amp;</i>");
    QTest::newRow("comparison") << QStringLiteral("<x> a < b");
}

void TestQuarrowPane::htmlLookingTextIsNotRendered()
{
    QFETCH(QString, message);
    QTextEdit pane;
    ResultPane::showRecords(&pane, {{"2024-05-01 08:00:00", message}});
    QCOMPARE(pane.toPlainText(), QStringLiteral("2024-05-01 08:00:00:\n") + message);
    QCOMPARE(pane.document()->blockCount(), 2);
    const QTextBlock second = pane.document()->begin().next();
    QCOMPARE(second.text(), message);
    QCOMPARE(second.blockFormat().headingLevel(), 0);
    for (auto it = second.begin(); !it.atEnd(); ++it) {
        QCOMPARE(it.fragment().charFormat().fontWeight(), int(QFont::Normal));
        QVERIFY(!it.fragment().charFormat().fontItalic());
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

    QCOMPARE(pane.toPlainText(), notice);
    QCOMPARE(pane.document()->blockCount(), 1);
    QCOMPARE(pane.font().pixelSize(), 30);

    QTextEdit reference;
    resetLikeThePane(reference, 30);
    appendPlain(reference, notice);
    compareDocuments(pane, reference);
}

QTEST_MAIN(TestQuarrowPane)
#include "tst_quarrow_pane.moc"
