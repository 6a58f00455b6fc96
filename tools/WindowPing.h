#pragma once

#include <QString>

// Asks a window whether its program answers, as a window manager does: an
// _NET_WM_PING message every interval, whose echo the program sends back
// to the root window from its event loop. A program whose event loop is
// stuck (a long query on the GUI thread, say) answers late, and a desktop
// marks it "not responding" after a few seconds.
//
// One probe runs for a fixed time and records, for every ping, how long the
// answer took; a ping not answered by the end counts with the time it has
// waited. The longest of them is the longest the window did not answer.
class WindowPing
{
public:
    struct Result
    {
        int sent = 0;
        int answered = 0;
        int longestMs = 0;      // the longest wait for an answer
        int longestAtMs = 0;    // when the ping with that wait was sent, from the start
    };

    // `display` as for XOpenDisplay; false from probe() if it cannot be opened.
    explicit WindowPing(const QString& display);
    ~WindowPing();
    WindowPing(const WindowPing&) = delete;
    WindowPing& operator=(const WindowPing&) = delete;

    // Pings `window` every intervalMs for durationMs.
    bool probe(unsigned long window, int durationMs, int intervalMs, Result& result);

private:
    struct _XDisplay* m_display = nullptr;
};
