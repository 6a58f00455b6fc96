#include "ReportRunner.h"

#include <QMetaObject>

#include <vxSyslog/LogSource.h>

using SystemLog::AlarmReport;

ReportRunner::ReportRunner(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<SystemLog::AlarmReport>("SystemLog::AlarmReport");
}

ReportRunner::~ReportRunner()
{
    cancel();
}

void ReportRunner::cancel()
{
    m_running = false;
    if (!m_job)
        return;
    m_job->stop.store(true);
    if (m_job->thread.joinable())
        m_job->thread.join();
    m_job.reset();
}

void ReportRunner::start(const LogSources& sources, const AlarmReport::Request& request)
{
    cancel();
    m_running = true;
    m_job = std::make_unique<Job>();
    Job* job = m_job.get();
    job->thread = std::thread([this, job, sources, request] {
        AlarmReport report;
        QString error;
        bool ok = false;
        std::unique_ptr<SystemLog::LogSource> source =
            SystemLog::LogSource::create(sources.locations, sources.hosts, error);
        if (source) {
            source->setStopCheck([job] { return job->stop.load(); });
            ok = source->open() && SystemLog::computeAlarmReport(*source, request, report, error);
            if (!ok && error.isEmpty())
                error = source->errorText();
        }
        if (job->stop.load())
            return;
        {
            std::lock_guard<std::mutex> lock(job->resultMutex);
            job->ok = ok;
            job->report = std::move(report);
            job->error = std::move(error);
            job->done = true;
        }
        QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
    });
}

// A call queued by a job that was cancelled since finds no job, or a newer
// job not done yet, and does nothing.
void ReportRunner::collect()
{
    if (!m_job)
        return;
    {
        std::lock_guard<std::mutex> lock(m_job->resultMutex);
        if (!m_job->done)
            return;
    }
    if (m_job->thread.joinable())
        m_job->thread.join();
    const std::unique_ptr<Job> job = std::move(m_job);
    m_running = false;
    if (job->ok)
        emit finished(job->report);
    else
        emit failed(job->error);
}
