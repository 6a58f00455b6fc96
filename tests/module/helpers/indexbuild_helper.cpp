// Test helper: brings the text index of a log up to date, batch by batch,
// as a writer's keeper or a reader would, so that a test can kill it while
// it builds.
//
//   indexbuild_helper LOG PART_ROWS
//
// Prints "batch" after every batch it committed and "done" at the end;
// exits 1 with the reason on standard error when a batch fails.
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#include "search/IndexBuilder.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: indexbuild_helper LOG PART_ROWS\n");
        return 2;
    }
    SystemLog::IndexBuilder builder(args[1]);
    builder.setPartRows(args[2].toLongLong());
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
