#include "report/SideBySide.h"

namespace SystemLog {

SideBySide::SideBySide(PgSource& source)
    : m_source(source)
{
}

SideBySide::~SideBySide()
{
    m_abandon.store(true);
    join();
}

void SideBySide::start(std::vector<PgSource::AsideStatement> statements)
{
    m_runs.emplace_back();
    Run& run = m_runs.back();
    run.statements = std::move(statements);
    run.thread = std::thread([this, &run] {
        run.ok = m_source.rowsAside(run.statements, [this] { return m_abandon.load(); }, run.failure);
    });
}

bool SideBySide::finish(QString& error)
{
    join();
    for (Run& run : m_runs) {
        if (!run.ok && run.failure.connecting)
            run.ok = runHere(run, error);
        else if (!run.ok)
            error = run.failure.error;
        if (!run.ok)
            return false;
    }
    return true;
}

void SideBySide::join()
{
    for (Run& run : m_runs) {
        if (run.thread.joinable())
            run.thread.join();
    }
}

bool SideBySide::runHere(const Run& run, QString& error)
{
    const PgSource::StatementRows dropped = [](const std::vector<QByteArray>&, const std::vector<bool>&) { return true; };
    QString state;
    for (const PgSource::AsideStatement& one : run.statements) {
        if (!m_source.rowsOnce(one.statement, one.rows ? one.rows : dropped, state)) {
            error = m_source.errorText();
            return false;
        }
    }
    return true;
}

} // namespace SystemLog
