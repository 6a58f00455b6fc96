// Test helper: brings the text index of a log up to date, batch by batch,
// as a writer's keeper or a reader would, and kills itself (SIGKILL) at the
// moment a test chose, inside whatever the builder is doing then.
//
//   indexbuild_helper LOG PART_ROWS [KILL_AT]
//
// KILL_AT counts the builder's looks at its stop check (one every thousand
// SQLite steps, while it reads the log or writes the index). Prints "batch"
// after every batch it committed and "done" at the end; exits 1 with the
// reason on standard error when a batch fails.
#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

#include "search/IndexBuilder.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: indexbuild_helper LOG PART_ROWS [KILL_AT]\n");
        return 2;
    }
    SystemLog::IndexBuilder builder(args[1]);
    builder.setPartRows(args[2].toLongLong());
    const qint64 killAt = args.size() > 3 ? args[3].toLongLong() : 0;
    qint64 looks = 0;
    builder.setStopCheck([&looks, killAt] {
        if (killAt > 0 && ++looks >= killAt)
            std::raise(SIGKILL);
        return false;
    });
    for (;;) {
        bool done = false;
        if (!builder.step(done)) {
            std::fprintf(stderr, "%s\n", qPrintable(builder.errorText()));
            return 1;
        }
        std::printf(done ? "done\n" : "batch\n");
        std::fflush(stdout);
        if (done)
            return 0;
    }
}
