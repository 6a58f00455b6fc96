#pragma once

#include <QImage>
#include <QString>

// A few things one does to a Qt top-level window on an X server from the
// outside, as an operator's desktop would: find it by title, close it the
// polite way (WM_DELETE_WINDOW, which works without a window manager), click
// into it and take a picture of it. Used by the smoke test and the scripts
// that run the viewer under Xvfb.
class XWindow
{
public:
    explicit XWindow(const QString& display);
    ~XWindow();
    XWindow(const XWindow&) = delete;
    XWindow& operator=(const XWindow&) = delete;

    bool connected() const { return m_display != nullptr; }

    // Polls until a mapped top-level window titled `title` exists; 0 if none
    // appeared within timeoutMs.
    unsigned long waitForTitle(const QString& title, int timeoutMs);
    unsigned long findByTitle(const QString& title);

    bool requestClose(unsigned long window);
    bool click(unsigned long window, int x, int y);
    QImage grab(unsigned long window);

private:
    QString titleOf(unsigned long window);

    struct _XDisplay* m_display = nullptr;
};
