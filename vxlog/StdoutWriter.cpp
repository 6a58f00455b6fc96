#include "StdoutWriter.h"

#include <vxSyslog/DatabaseFailure.h>

#include <cerrno>
#include <cstdio>

#include "CommandLine.h"

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
    errno = 0;
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
    errno = 0;
    if (std::fflush(stdout) != 0) {
        m_failed = true;
        m_errno = errno;
    }
    return !m_failed;
}

QString StdoutWriter::errorText() const
{
    const QString reason = m_errno != 0 ? SystemLog::chineseSystemError(m_errno) : QStringLiteral("未知错误");
    return QStringLiteral("vxlog：无法写出结果：%1").arg(reason);
}

void printError(const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fflush(stdout);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

int printResult(const QString& text)
{
    StdoutWriter out;
    out.buffer() = text.toUtf8();
    if (out.flush())
        return kExitSuccess;
    printError(out.errorText());
    return kExitFailure;
}
