#pragma once

#include <QFont>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <vector>

#include <vxSyslog/LogSource.h>

#include "PaneListing.h"

class QPrinter;
class QTextLayout;

// Prints what the result pane lists (a PaneListing) on a QPrinter (a
// printer, or a PDF file), one page per printPage() call, so that the
// window's event loop runs between pages: a listing of any size prints
// while the window answers, shows its progress and can be stopped. The
// texts are read from the stored records as the pages need them (the
// listing's own reads: the pane's blocks, gaps said as the pane says them),
// a batch at a time, on the calling thread. Every page starts with the
// header lines given (file, period, types, count) and its number; the
// records follow as the pane shows them, wrapped at spaces, each with its
// type's stripe.
class ListingPrinter
{
public:
    ListingPrinter(QPrinter& printer, const PaneListing& listing, const QStringList& header);
    ~ListingPrinter();
    ListingPrinter(const ListingPrinter&) = delete;
    ListingPrinter& operator=(const ListingPrinter&) = delete;

    // Opens the records and starts the document; false with error().
    bool start();
    // Prints the next page; false once the last one is printed, or on a
    // failure (failed()).
    bool printPage();
    // Ends the document: the printer gets it, or the PDF file is complete.
    bool finish();
    // Stops: the printer discards what it was given.
    void abort();

    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }
    int recordCount() const { return m_listing.keys.count(); }
    int recordsPrinted() const { return m_record; }
    int pagesPrinted() const { return m_pages; }

private:
    struct Line
    {
        int paragraph;
        int line;
    };

    bool layOutRecord();
    QString blockOf(int record);
    qreal paintHeader();

    QPrinter& m_printer;
    PaneListing m_listing;
    QStringList m_header;
    std::unique_ptr<SystemLog::LogSource> m_reader;
    QPainter m_painter;
    QFont m_bodyFont;
    QFont m_headerFont;
    // The blocks of the batch being printed, from m_first on.
    int m_first = 0;
    std::deque<QString> m_blocks;
    // The record being printed and its lines still to come.
    int m_record = 0;
    std::vector<std::unique_ptr<QTextLayout>> m_paragraphs;
    std::vector<Line> m_lines;
    std::size_t m_nextLine = 0;
    int m_pages = 0;
    QString m_error;
};
