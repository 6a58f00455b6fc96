#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <vxSyslog/AlarmReport.h>

#include "LogSources.h"

// Computes an alarm report (the module's computeAlarmReport) on a thread of
// its own, so that the window goes on answering however long the log takes.
// One report at a time: start() cancels the one before, cancel() stops the
// running one within a few milliseconds (the reader's stop check) and
// nothing is reported for it. The result comes back on the GUI thread as
// finished() or failed(). The destructor cancels and waits for the thread.
// The report thread leaves its result in the job under the job's mutex and
// only then asks the GUI thread to collect it: Qt 5 queues events under a
// futex-based lock that ThreadSanitizer cannot see, so nothing made on the
// report thread travels inside the queued call itself.
class ReportRunner : public QObject
{
    Q_OBJECT

public:
    explicit ReportRunner(QObject* parent = nullptr);
    ~ReportRunner() override;

    void start(const LogSources& sources, const SystemLog::AlarmReport::Request& request);
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void finished(const SystemLog::AlarmReport& report);
    void failed(const QString& reason);

private:
    struct Job
    {
        std::atomic<bool> stop{false};
        std::thread thread;
        std::mutex resultMutex;
        bool done = false;
        bool ok = false;
        SystemLog::AlarmReport report;
        QString error;
    };
    Q_INVOKABLE void collect();

    std::unique_ptr<Job> m_job;
    bool m_running = false;
};
