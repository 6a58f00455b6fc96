#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

#include <vxSyslog/AlarmReport.h>

#include "LogSources.h"

// Computes an alarm report (the module's computeAlarmReport) on a thread of
// its own, so that the window goes on answering however long the log takes.
// One report at a time: start() cancels the one before, cancel() stops the
// running one within a few milliseconds (the reader's stop check) and
// nothing is reported for it. The result comes back on the GUI thread as
// finished() or failed(). The destructor cancels and waits for the thread.
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
    };
    void deliver(int generation, bool ok, const SystemLog::AlarmReport& report, const QString& error);

    std::unique_ptr<Job> m_job;
    int m_generation = 0;
    bool m_running = false;
};
