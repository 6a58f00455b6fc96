#include "ReaderOutput.h"

#include <vxSyslog/LogReader.h>
#include <vxSyslog/LogSource.h>

#include "CommandLine.h"
#include "StdoutWriter.h"

bool openOrReport(SystemLog::LogReader& reader)
{
    if (reader.open())
        return true;
    printError(reader.errorText());
    return false;
}

int finishRecordStream(bool readOk, const SystemLog::LogReader& reader, StdoutWriter& out)
{
    if (!readOk) {
        // What was read before the failure still goes out, then the reason.
        out.flush();
        printError(reader.errorText());
        return kExitFailure;
    }
    if (!out.flush()) {
        printError(out.errorText());
        return kExitFailure;
    }
    return kExitSuccess;
}

namespace {

// How many of a source's problems were told already.
int g_toldProblems = 0;

void tellNewProblems(const SystemLog::LogSource& source)
{
    const QStringList problems = source.problems();
    for (int i = g_toldProblems; i < problems.size(); ++i)
        printError(problems.at(i));
    g_toldProblems = problems.size();
}

} // namespace

bool openOrReport(SystemLog::LogSource& source)
{
    const bool opened = source.open();
    tellNewProblems(source);
    return opened;
}

int finishRecordStream(bool readOk, const SystemLog::LogSource& source, StdoutWriter& out)
{
    const bool written = out.flush();
    tellNewProblems(source);
    if (!written && readOk) {
        printError(out.errorText());
        return kExitFailure;
    }
    return readOk && source.problems().isEmpty() ? kExitSuccess : kExitFailure;
}

SystemLog::RecordLabels labelsFor(const SystemLog::LogSource& source, const SystemLog::LogQuery& filter)
{
    SystemLog::RecordLabels labels;
    labels.host = source.namesMachines();
    labels.type = filter.types.size() != 1;
    return labels;
}
