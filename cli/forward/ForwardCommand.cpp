#include "Commands.h"

#include <csignal>
#include <memory>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/LogTail.h>

#include "CommandLine.h"
#include "CursorFile.h"
#include "ForwardOptions.h"
#include "Forwarder.h"
#include "RelpClient.h"
#include "StdoutWriter.h"
#include "StopSignals.h"

namespace {

const QString kSpeaker = QStringLiteral("vxlog forward");

// Failures and notices alike start with the command's name.
void reportFailure(const QString& text)
{
    printError(QStringLiteral("%1：%2").arg(kSpeaker, text));
}

// Where forwarding starts: after the cursor's id; without a cursor at the
// first record of --since, or after the records already there. A cursor
// file that does not exist yet is made at once, so that a run killed before
// its first window still resumes where this one started.
bool startingPoint(const ForwardOptions& options, CursorFile* cursor, qint64& start)
{
    if (cursor) {
        switch (cursor->read(start)) {
        case CursorFile::Read::Found:
            return true;
        case CursorFile::Read::Failed:
            reportFailure(cursor->errorText());
            return false;
        case CursorFile::Read::Missing:
            break;
        }
    }
    start = 0;
    SystemLog::LogReader reader(options.databasePath);
    if (!options.sinceGiven && !(reader.open() && reader.lastId(start))) {
        reportFailure(reader.errorText());
        return false;
    }
    if (cursor && !cursor->store(start)) {
        reportFailure(cursor->errorText());
        return false;
    }
    return true;
}

} // namespace

int runForward(const QStringList& arguments)
{
    ForwardOptions options;
    const int parsed = parseForwardOptions(arguments, options);
    if (parsed >= 0)
        return parsed;
    // From here on a stop request ends the run cleanly, also before the
    // first connection.
    installStopSignals();
    // A receiver that goes away mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    const bool quiet = options.quiet;
    SystemLog::LogTail tail(options.databasePath, options.filter, [quiet](const QString& notice) {
        if (!quiet)
            reportFailure(notice);
    });
    tail.setStopCheck(stopRequested);
    if (!tail.open()) {
        reportFailure(tail.errorText());
        return kExitFailure;
    }
    std::unique_ptr<CursorFile> cursor;
    if (!options.cursorPath.isEmpty())
        cursor = std::make_unique<CursorFile>(options.cursorPath);
    qint64 start = 0;
    if (!startingPoint(options, cursor.get(), start))
        return kExitFailure;

    RelpClient client(options.receiver);
    client.setAbortFlag(immediateStopFlag());
    Forwarder forwarder(tail, client, options.format, options.receiverName, cursor.get());
    forwarder.setQuiet(options.quiet);
    return forwarder.run(start);
}
