#include "CursorFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <vxSyslog/DatabaseFailure.h>

CursorFile::CursorFile(const QString& path)
    : m_path(path)
{
}

CursorFile::~CursorFile() = default;

bool CursorFile::fail(const QString& reason)
{
    m_error = QStringLiteral("游标文件 %1：%2").arg(QDir::toNativeSeparators(m_path), reason);
    return false;
}

QByteArray CursorFile::markOf(const QByteArray& datetime, const QByteArray& message)
{
    return datetime + ' ' + QCryptographicHash::hash(message, QCryptographicHash::Sha1).toHex();
}

CursorFile::Read CursorFile::read(qint64& id, QByteArray& mark)
{
    QFile file(m_path);
    if (!file.exists())
        return Read::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("无法读取（%1）").arg(SystemLog::chineseSystemError(file.errorString())));
        return Read::Failed;
    }
    const QList<QByteArray> lines = file.read(256).split('\n');
    const QByteArray text = lines.first().trimmed();
    static const QByteArray kMarkLine("record ");
    mark = lines.value(1).startsWith(kMarkLine) ? lines.value(1).mid(kMarkLine.size()).trimmed() : QByteArray();
    bool isNumber = false;
    id = text.toLongLong(&isNumber);
    if (!isNumber || id < 0) {
        fail(QStringLiteral("内容不是记录编号（“%1”）：请在其中写入应从其后继续的记录编号").arg(QString::fromUtf8(text.left(32))));
        return Read::Failed;
    }
    return Read::Found;
}

bool CursorFile::prepare(qint64 id, const QByteArray& mark)
{
    m_pending = std::make_unique<QSaveFile>(m_path);
    QByteArray line = QByteArray::number(id) + '\n';
    if (!mark.isEmpty())
        line += "record " + mark + '\n';
    if (!m_pending->open(QIODevice::WriteOnly) || m_pending->write(line) != line.size() || !m_pending->flush()) {
        const QString reason = m_pending->errorString();
        m_pending.reset();
        return fail(QStringLiteral("无法写入（%1）").arg(SystemLog::chineseSystemError(reason)));
    }
    return true;
}

bool CursorFile::commit()
{
    if (!m_pending)
        return fail(QStringLiteral("没有待写入的记录编号"));
    const bool committed = m_pending->commit();
    const QString reason = m_pending->errorString();
    m_pending.reset();
    return committed || fail(QStringLiteral("无法写入（%1）").arg(SystemLog::chineseSystemError(reason)));
}
