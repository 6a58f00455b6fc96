#include "WindowPing.h"

#include <QElapsedTimer>
#include <QVector>

#include <X11/Xlib.h>

#include <poll.h>

namespace {

void sendPing(Display* display, Window window, Atom protocols, Atom ping, long serial)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    // The echo carries this back; a time stamp is what a window manager
    // puts here, and any value is echoed unchanged.
    event.xclient.data.l[1] = serial;
    event.xclient.data.l[2] = long(window);
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

// Waits until the X connection has something to read or `ms` ran out.
void waitForEvents(Display* display, int ms)
{
    pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
    poll(&descriptor, 1, ms);
}

} // namespace

WindowPing::WindowPing(const QString& display)
    : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
{
}

WindowPing::~WindowPing()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool WindowPing::probe(unsigned long window, int durationMs, int intervalMs, Result& result)
{
    result = Result();
    if (!m_display)
        return false;
    const Atom protocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(m_display, "_NET_WM_PING", False);
    // The program sends its echo to the root window for the window manager;
    // this selection lets the probe see it.
    XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask);

    QVector<qint64> sentAt;      // by serial, ms from the start
    QVector<qint64> answeredAt;  // -1: not yet
    QElapsedTimer clock;
    clock.start();
    qint64 nextPing = 0;
    while (clock.elapsed() < durationMs) {
        if (clock.elapsed() >= nextPing) {
            sentAt << clock.elapsed();
            answeredAt << -1;
            sendPing(m_display, window, protocols, ping, long(sentAt.size() - 1));
            nextPing += intervalMs;
        }
        waitForEvents(m_display, int(qMax<qint64>(1, nextPing - clock.elapsed())));
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            const long serial = event.xclient.data.l[1];
            if (event.type == ClientMessage && event.xclient.message_type == protocols
                && Atom(event.xclient.data.l[0]) == ping && serial >= 0 && serial < answeredAt.size()
                && answeredAt.at(int(serial)) < 0)
                answeredAt[int(serial)] = clock.elapsed();
        }
    }
    const qint64 end = clock.elapsed();
    result.sent = sentAt.size();
    for (int i = 0; i < sentAt.size(); ++i) {
        if (answeredAt.at(i) >= 0)
            ++result.answered;
        const qint64 waited = (answeredAt.at(i) >= 0 ? answeredAt.at(i) : end) - sentAt.at(i);
        if (waited > result.longestMs) {
            result.longestMs = int(waited);
            result.longestAtMs = int(sentAt.at(i));
        }
    }
    return true;
}
