#include "ListingPrinter.h"

#include <QPrinter>
#include <QTextLayout>

#include <algorithm>

#include <vxSyslog/ListingBlock.h>

#include "PaneText.h"
#include "RecordColours.h"
#include "StoredRecords.h"

namespace {

constexpr int kBatch = 128;
// A locked file or a silent server holds the window no longer than this per batch.
constexpr int kWaitMs = 1000;
constexpr qreal kBodyPoints = 9;
constexpr qreal kHeaderPoints = 9.5;

} // namespace

ListingPrinter::ListingPrinter(QPrinter& printer, const PaneListing& listing, const QStringList& header)
    : m_printer(printer)
    , m_listing(listing)
    , m_header(header)
{
    m_bodyFont.setPointSizeF(kBodyPoints);
    m_headerFont.setPointSizeF(kHeaderPoints);
}

ListingPrinter::~ListingPrinter()
{
    if (m_painter.isActive())
        m_painter.end();
}

bool ListingPrinter::start()
{
    QString usage;
    m_reader = m_listing.sources.reader(usage);
    if (!m_reader) {
        m_error = usage;
        return false;
    }
    m_reader->setBusyTimeout(kWaitMs);
    if (!m_reader->open()) {
        m_error = m_reader->errorText();
        return false;
    }
    if (!m_painter.begin(&m_printer)) {
        m_error = m_printer.outputFormat() == QPrinter::PdfFormat
                      ? QStringLiteral("无法写入 PDF 文件：%1").arg(m_printer.outputFileName())
                      : QStringLiteral("无法使用打印机“%1”").arg(m_printer.printerName());
        return false;
    }
    return true;
}

// The blocks are read a batch ahead, as the pane reads them (a record no
// longer stored says so).
QString ListingPrinter::blockOf(int record)
{
    while (!m_blocks.empty() && m_first < record) {
        m_blocks.pop_front();
        ++m_first;
    }
    if (m_blocks.empty()) {
        m_first = record;
        const int size = std::min(kBatch, recordCount() - record);
        std::vector<int> machines(std::size_t(size), 0);
        std::vector<qint64> ids(std::size_t(size), 0);
        for (int i = 0; i < size; ++i) {
            machines[std::size_t(i)] = m_listing.keys.machine(record + i);
            ids[std::size_t(i)] = m_listing.keys.id(record + i);
        }
        m_blocks.assign(std::size_t(size), StoredRecords::goneText());
        const bool read = m_reader->fetch(m_listing.query, machines.data(), ids.data(), size,
                                          [this](int index, const QString& block) { m_blocks[std::size_t(index)] = block; });
        if (!read) {
            m_error = m_reader->errorText();
            m_blocks.clear();
            return QString();
        }
    }
    return m_blocks.front();
}

bool ListingPrinter::layOutRecord()
{
    const QString block = blockOf(m_record);
    if (failed())
        return false;
    m_paragraphs.clear();
    m_lines.clear();
    m_nextLine = 0;
    const qreal width = m_printer.pageRect(QPrinter::DevicePixel).width() - m_printer.resolution() / 10.0;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const PaneText::Range& range : PaneText::paragraphs(block, 0, block.size())) {
        auto paragraph = std::make_unique<QTextLayout>(block.mid(range.start, range.length), m_bodyFont, &m_printer);
        paragraph->setTextOption(option);
        paragraph->beginLayout();
        qreal y = 0;
        for (QTextLine line = paragraph->createLine(); line.isValid(); line = paragraph->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        paragraph->endLayout();
        for (int i = 0; i < paragraph->lineCount(); ++i)
            m_lines.push_back({int(m_paragraphs.size()), i});
        m_paragraphs.push_back(std::move(paragraph));
    }
    return true;
}

// The header lines, the page number at the right of the first, a rule under
// them; the height they took.
qreal ListingPrinter::paintHeader()
{
    const QRectF page(QPointF(0, 0), m_printer.pageRect(QPrinter::DevicePixel).size());
    m_painter.setFont(m_headerFont);
    const QFontMetricsF metrics(m_headerFont, &m_printer);
    qreal y = 0;
    const QString number = QStringLiteral("第 %1 页").arg(m_pages + 1);
    for (int i = 0; i < m_header.size(); ++i) {
        const QRectF row(0, y, page.width(), metrics.height());
        const qreal room = page.width() - (i == 0 ? metrics.horizontalAdvance(number) + metrics.height() : 0);
        m_painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(m_header.at(i), Qt::ElideMiddle, room));
        if (i == 0)
            m_painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, number);
        y += metrics.height();
    }
    y += metrics.height() / 4;
    m_painter.drawLine(QPointF(0, y), QPointF(page.width(), y));
    return y + metrics.height() / 2;
}

bool ListingPrinter::printPage()
{
    if (failed() || m_record >= recordCount())
        return false;
    if (m_pages > 0 && !m_printer.newPage()) {
        m_error = QStringLiteral("无法开始新的一页");
        return false;
    }
    const qreal bottom = m_printer.pageRect(QPrinter::DevicePixel).height();
    const qreal stripe = m_printer.resolution() / 25.0;
    const qreal indent = m_printer.resolution() / 10.0;
    const QFontMetricsF body(m_bodyFont, &m_printer);
    qreal y = paintHeader();
    m_painter.setFont(m_bodyFont);
    bool any = false;
    while (m_record < recordCount()) {
        if (m_lines.empty() && !layOutRecord())
            return false;
        const qint8 kind = m_listing.keys.kind(m_record);
        const QColor colour = RecordKeys::isGapKind(kind) ? RecordColours::gapColour()
                                                          : RecordColours::typeColour(RecordKeys::typeOfKind(kind));
        for (; m_nextLine < m_lines.size(); ++m_nextLine) {
            const Line at = m_lines[m_nextLine];
            const QTextLine line = m_paragraphs[std::size_t(at.paragraph)]->lineAt(at.line);
            if (any && y + line.height() > bottom)
                break;
            m_painter.fillRect(QRectF(0, y, stripe, line.height()), colour);
            line.draw(&m_painter, QPointF(indent, y - line.y()));
            y += line.height();
            any = true;
        }
        if (m_nextLine < m_lines.size())
            break;
        m_lines.clear();
        m_paragraphs.clear();
        ++m_record;
        y += body.height() / 3;
    }
    ++m_pages;
    return m_record < recordCount();
}

bool ListingPrinter::finish()
{
    return !m_painter.isActive() || m_painter.end();
}

void ListingPrinter::abort()
{
    m_printer.abort();
    if (m_painter.isActive())
        m_painter.end();
}
