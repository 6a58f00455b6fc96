#include "ReaderOutput.h"

#include <vxSyslog/LogReader.h>

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
