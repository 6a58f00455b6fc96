#pragma once

#include <QElapsedTimer>
#include <QString>

#include <list>
#include <memory>
#include <vector>

#include "LogSources.h"
#include "PaneRecords.h"
#include "RecordKeys.h"

#include <vxSyslog/CommittedCopy.h>
#include <vxSyslog/LogQuery.h>

// A query's answer as the pane holds it: the keys a worker listed (see
// QueryWorker.h) and, for what is laid out, the texts of a few pages of
// records, read by machine and id on the GUI thread through a reader of its
// own (read-only, with a short busy timeout). A page that cannot be read (the file
// locked for longer, gone, damaged) shows the reason in place of each of its
// records and is read again next time; a row that is no longer stored shows
// that it is gone.
class StoredRecords : public PaneRecords
{
public:
    static constexpr int kPageSize = 128;
    static constexpr int kBusyTimeoutMs = 100;
    // The central database: the longest the window waits for its server,
    // and how long after a failed read it is not asked again (a hung server
    // or a dead network would otherwise hold the window at every paint).
    static constexpr int kServerWaitMs = 1000;
    static constexpr int kServerRetryMs = 5000;

    static QString goneText();
    static QString unreadableText(const QString& reason);

    StoredRecords(const LogSources& sources, const SystemLog::LogQuery& query);
    ~StoredRecords() override;

    int count() const override { return m_keys.count(); }
    int blockLength(int record) const override { return m_keys.length(record); }
    QString blockSlice(int record, int from, int length) override;

    RecordKeys& keys() { return m_keys; }
    const LogSources& sources() const { return m_sources; }
    // The machines the listing fixed: the keys number them (LogSource).
    void fixMachines(const QStringList& machines);
    QStringList machines() const { return m_machines; }
    std::shared_ptr<SystemLog::CommittedCopy> copy() const { return m_copy; }
    const SystemLog::LogQuery& query() const { return m_query; }
    // Reads go to this rolled-back copy of the database from now on.
    void readFrom(const std::shared_ptr<SystemLog::CommittedCopy>& copy);
    bool readsACopy() const { return bool(m_copy); }
    // Whether a read failed since this was last asked; until then no page
    // is read again.
    bool takeReadFailure();

private:
    struct Page
    {
        int first;
        std::vector<QString> blocks;
        qint64 characters;
    };

    QString blockOf(int record);
    const Page* pageAt(int first);
    bool readPage(int first, Page& page);
    void keepPage(Page&& page);

    LogSources m_sources;
    SystemLog::LogQuery m_query;
    std::shared_ptr<SystemLog::CommittedCopy> m_copy;
    RecordKeys m_keys;
    QStringList m_machines;
    std::unique_ptr<SystemLog::LogSource> m_reader;
    std::list<Page> m_pages; // the most recently used first
    qint64 m_cachedCharacters = 0;
    QString m_readError;
    QElapsedTimer m_sinceServerFailure; // valid after a failed read of the central database
    bool m_readFailed = false;
};
