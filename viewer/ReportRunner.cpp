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
    ++m_generation;
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
    const int generation = m_generation;
    m_job = std::make_unique<Job>();
    Job* job = m_job.get();
    job->thread = std::thread([this, job, generation, sources, request] {
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
        // Queued to the GUI thread; dropped there if another report began.
        QMetaObject::invokeMethod(
            this, [this, generation, ok, report, error] { deliver(generation, ok, report, error); }, Qt::QueuedConnection);
    });
}

void ReportRunner::deliver(int generation, bool ok, const AlarmReport& report, const QString& error)
{
    if (generation != m_generation)
        return;
    m_running = false;
    if (m_job && m_job->thread.joinable())
        m_job->thread.join();
    m_job.reset();
    if (ok)
        emit finished(report);
    else
        emit failed(error);
}
