// Command-line front of XWindow for the scripts that run the viewer under
// Xvfb. The display is taken from $DISPLAY.
//
//   quarrow_xtool wait TITLE SECONDS     wait for the window, exit 1 if it never shows
//   quarrow_xtool click TITLE X Y        click at window coordinates
//   quarrow_xtool grab TITLE FILE.png    save a picture of the window
//   quarrow_xtool close TITLE            ask the window to close (WM_DELETE_WINDOW)
//   quarrow_xtool probe TITLE MS STEP    ping the window every STEP ms for MS ms
//                                        (_NET_WM_PING) and print the longest
//                                        wait for an answer
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

#include "WindowPing.h"
#include "XWindow.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: quarrow_xtool wait TITLE SECONDS | click TITLE X Y | grab TITLE FILE | close TITLE"
                         " | probe TITLE MS STEP\n");
    return 2;
}

int fail(const char* what)
{
    std::fprintf(stderr, "quarrow_xtool: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return usage();
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString title = QString::fromUtf8(argv[2]);
    XWindow x(QString::fromLocal8Bit(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : ""));
    if (!x.connected())
        return fail("cannot open the display");

    if (command == QLatin1String("wait") && argc == 4)
        return x.waitForTitle(title, std::atoi(argv[3]) * 1000) ? 0 : fail("window did not appear");

    const unsigned long window = x.findByTitle(title);
    if (!window)
        return fail("no window with that title");
    if (command == QLatin1String("click") && argc == 5)
        return x.click(window, std::atoi(argv[3]), std::atoi(argv[4])) ? 0 : fail("XTEST is not available");
    if (command == QLatin1String("grab") && argc == 4)
        return x.grab(window).save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : fail("could not save the picture");
    if (command == QLatin1String("probe") && argc == 5) {
        WindowPing pinger(QString::fromLocal8Bit(std::getenv("DISPLAY")));
        WindowPing::Result result;
        if (!pinger.probe(window, std::atoi(argv[3]), std::atoi(argv[4]), result))
            return fail("cannot open the display");
        std::printf("pings %d answered %d longest_wait_ms %d at_ms %d\n", result.sent, result.answered,
                    result.longestMs, result.longestAtMs);
        return 0;
    }
    if (command == QLatin1String("close") && argc == 3)
        return x.requestClose(window) ? 0 : fail("could not send the close request");
    return usage();
}
