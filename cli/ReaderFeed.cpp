#include "ReaderFeed.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include "StdoutWriter.h"

using SystemLog::FailureKind;
using SystemLog::LogReader;
using SystemLog::LogRecord;
using SystemLog::RecordFilter;

ReaderFeed::ReaderFeed(const QString& path, const RecordFilter& filter, const QString& speaker)
    : m_path(path)
    , m_filter(filter)
    , m_speaker(speaker)
{
    m_filter.order = RecordFilter::Order::Arrival;
    m_filter.last = 0;
    m_filter.reverse = false;
}

ReaderFeed::Identity ReaderFeed::currentIdentity() const
{
    struct stat status {};
    Identity identity;
    if (::stat(QFile::encodeName(m_path).constData(), &status) != 0)
        return identity;
    identity.exists = true;
    identity.device = static_cast<quint64>(status.st_dev);
    identity.inode = static_cast<quint64>(status.st_ino);
    return identity;
}

bool ReaderFeed::open()
{
    const Identity identity = currentIdentity();
    auto reader = std::make_unique<LogReader>(m_path);
    if (!reader->open()) {
        m_error = reader->errorText();
        return false;
    }
    m_reader = std::move(reader);
    m_identity = identity;
    return true;
}

bool ReaderFeed::lastId(qint64& id)
{
    if (m_reader->lastId(id))
        return true;
    m_error = m_reader->errorText();
    return false;
}

void ReaderFeed::notice(const QString& text)
{
    printError(QStringLiteral("%1：%2").arg(m_speaker, text));
}

// A reader keeps reading the file it opened, also after that file was
// deleted or renamed away; the name is looked at before every read.
bool ReaderFeed::followFileChange()
{
    const Identity now = currentIdentity();
    if (m_reader && now == m_identity)
        return true;
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!now.exists) {
        if (!m_waiting)
            notice(QStringLiteral("日志文件 %1 不见了，等待它重新出现").arg(shown));
        m_waiting = true;
        return false;
    }
    auto reader = std::make_unique<LogReader>(m_path);
    if (!reader->open()) {
        if (!m_waiting)
            notice(QStringLiteral("%1；等待可以读取时继续").arg(reader->errorText()));
        m_waiting = true;
        return false;
    }
    m_reader = std::move(reader);
    m_identity = now;
    m_position = 0;
    m_waiting = false;
    notice(QStringLiteral("日志文件 %1 已换成另一个文件，从新文件的第一条记录继续").arg(shown));
    return true;
}

bool ReaderFeed::readFailed()
{
    if (m_reader->failureKind() != FailureKind::Locked) {
        m_error = m_reader->errorText();
        return false;
    }
    if (!m_waiting)
        notice(QStringLiteral("日志数据库被其他程序锁定，等待它释放"));
    m_waiting = true;
    return true;
}

bool ReaderFeed::next(int limit, const Sink& sink)
{
    if (!followFileChange())
        return true;
    qint64 newest = 0;
    if (!m_reader->lastId(newest))
        return readFailed();
    m_waiting = false;
    if (newest < m_position) {
        notice(QStringLiteral("日志中最大的记录编号 %1 小于已读到的 %2（记录被删除或编号被重置），从现有的第一条记录继续")
                   .arg(newest)
                   .arg(m_position));
        m_position = 0;
    }
    if (newest <= m_position)
        return true;

    RecordFilter window = m_filter;
    window.afterId = m_position;
    window.upToId = newest;
    int delivered = 0;
    qint64 lastDelivered = m_position;
    const bool ok = m_reader->read(window, [&](const LogRecord& record) {
        sink(record);
        lastDelivered = record.id;
        return ++delivered < limit;
    });
    // Past the rows the filter left out too, unless the limit or a failure
    // stopped the read.
    m_position = ok && delivered < limit ? newest : lastDelivered;
    return ok || readFailed();
}
