#include "StdoutWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kBlockSize = 1 << 20;

} // namespace

StdoutWriter::StdoutWriter()
{
    m_buffer.reserve(kBlockSize + 64 * 1024);
}

StdoutWriter::~StdoutWriter()
{
    flush();
}

bool StdoutWriter::writeOut()
{
    if (m_failed) {
        m_buffer.clear();
        return false;
    }
    if (!m_buffer.isEmpty()
        && std::fwrite(m_buffer.constData(), 1, static_cast<size_t>(m_buffer.size()), stdout) != static_cast<size_t>(m_buffer.size())) {
        m_failed = true;
        m_errno = errno;
    }
    m_buffer.resize(0);
    return !m_failed;
}

bool StdoutWriter::recordDone()
{
    return m_buffer.size() < kBlockSize ? !m_failed : writeOut();
}

bool StdoutWriter::flush()
{
    if (!writeOut())
        return false;
    if (std::fflush(stdout) != 0) {
        m_failed = true;
        m_errno = errno;
    }
    return !m_failed;
}

QString StdoutWriter::errorText() const
{
    return QStringLiteral("无法写出结果：%1").arg(QString::fromLocal8Bit(std::strerror(m_errno)));
}

void printError(const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fflush(stdout);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void printOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}
