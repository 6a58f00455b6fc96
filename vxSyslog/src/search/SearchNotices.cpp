#include "search/SearchNotices.h"

#include <QFileInfo>
#include <QSet>

#include <mutex>

#include <vxSyslog/TextIndex.h>

#include "search/IndexLayout.h"

namespace SystemLog {

namespace {

std::mutex& noticeMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

TextIndex::NoticeSink& noticeSink()
{
    static TextIndex::NoticeSink* const sink = new TextIndex::NoticeSink;
    return *sink;
}

QSet<QString>& told()
{
    static QSet<QString>* const keys = new QSet<QString>;
    return *keys;
}

} // namespace

QString TextIndex::pathFor(const QString& logPath)
{
    return IndexLayout::pathFor(logPath);
}

void TextIndex::setNoticeSink(const NoticeSink& sink)
{
    std::lock_guard<std::mutex> lock(noticeMutex());
    noticeSink() = sink;
}

void SearchNotices::tell(TextIndex::Notice kind, const QString& logPath, const QString& notice)
{
    TextIndex::NoticeSink sink;
    {
        std::lock_guard<std::mutex> lock(noticeMutex());
        const QString key = QString::number(int(kind)) + QFileInfo(logPath).absoluteFilePath();
        if (told().contains(key) || !noticeSink())
            return;
        told().insert(key);
        sink = noticeSink();
    }
    sink(kind, notice);
}

} // namespace SystemLog
