#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/RecordFilter.h>
#include <vxSyslog/SourceTail.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// The log of one machine or of many behind one reader: one log database
// file, several files merged into one timeline, or the fleet's central
// PostgreSQL table fed by rsyslog (docs/fleet.md). vxlog's reading commands
// read through it.
//
// Locations: a file path, "NAME=PATH" (the file's records carry NAME), or
// one postgresql:// (postgres://) URL in libpq's form, whose password comes
// only from ~/.pgpass (or the file PGPASSFILE names) or PGPASSWORD: a
// location that holds one, in any spelling, is refused (shownLocation()).
// Machines: a file's records carry its name ("NAME=", else its base name
// without ".db": plc-7.db is plc-7); the central table's carry its host
// column. `hosts` keeps only those machines (of files: the files of those
// names).
// Order: time order is the time stamp, then the machine (the order the
// files were given in; the host name in the central table), then the id.
// Failures: every file is read as LogReader reads it, read-only, with the
// same reasons. A file that cannot be read is named in problems() and the
// others are still read: open() fails only when no location can be read,
// and a read in which one file failed still delivers the others' records
// and then returns false. A lost connection to PostgreSQL fails the call
// with the reason; an answer is never cut short silently.
// Threads: one source belongs to one thread.
class VXSYSLOG_EXPORT RecordSource
{
public:
    virtual ~RecordSource();

    // The source for the locations, or null with `error` (a usage error:
    // a URL with a password, a URL beside a file, a NAME given twice).
    static std::unique_ptr<RecordSource> create(const QStringList& locations, const QStringList& hosts,
                                                QString& error);
    static bool isDatabaseUrl(const QString& location);

    // A location as a message or a window may show it: without any password
    // it holds (a URL's "user:secret@", a password=… parameter or keyword,
    // whatever the spelling). The one place that decides what a password is.
    static QString shownLocation(const QString& location);
    // False with the reason (which does not repeat it) for a location that
    // holds a password; create() refuses those.
    static bool refusesPassword(const QString& location, QString& error);

    // True when at least one location can be read.
    virtual bool open() = 0;

    // As LogReader's: records in the filter's order, each carrying its host
    // where namesHosts(). `last` is the last N of the whole listing.
    virtual bool read(const RecordFilter& filter, const LogReader::RecordSink& sink) = 0;
    virtual bool count(const RecordFilter& filter, qint64& result) = 0;
    virtual bool countPerDayAndType(const RecordFilter& filter, const LogReader::DayTypeSink& sink) = 0;
    virtual bool span(const RecordFilter& filter, LogReader::Span& result) = 0;

    virtual void setStopCheck(const std::function<bool()>& stopRequested) = 0;

    // A tail of this source's machines, for a program that follows them.
    virtual std::unique_ptr<SourceTail> tail(const RecordFilter& filter, SourceTail::NoticeSink notices) = 0;

    // The files read (their paths), empty for the central database.
    virtual QStringList files() const = 0;

    // Whether the listing may hold more than one machine, so that each
    // record must name its own.
    virtual bool namesHosts() const = 0;

    // One Chinese line per failure since the source was made, each naming
    // its file or database; errorText() joins them with line feeds.
    QStringList problems() const { return m_problems; }
    QString errorText() const { return m_problems.join(QLatin1Char('\n')); }

protected:
    void addProblem(const QString& problem)
    {
        if (!m_problems.contains(problem))
            m_problems << problem;
    }

private:
    QStringList m_problems;
};

} // namespace SystemLog
