#include "XWindow.h"

#include <QElapsedTimer>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

// Qt sets the UTF-8 title (_NET_WM_NAME); WM_NAME is the fallback.
QString utf8Property(Display* display, Window window, const char* name)
{
    Atom property = XInternAtom(display, name, True);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", True);
    if (property == None || utf8 == None)
        return QString();
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    QString text;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, utf8, &actualType, &format,
                           &count, &remaining, &data) == Success && data) {
        if (actualType == utf8 && format == 8)
            text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(count));
        XFree(data);
    }
    return text;
}

QString legacyName(Display* display, Window window)
{
    char* name = nullptr;
    QString text;
    if (XFetchName(display, window, &name) && name) {
        text = QString::fromLocal8Bit(name);
        XFree(name);
    }
    return text;
}

int shiftOf(unsigned long mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

int channel(unsigned long pixel, unsigned long mask)
{
    return int((pixel & mask) >> shiftOf(mask)) & 0xff;
}

bool isMapped(Display* display, Window window)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

} // namespace

XWindow::XWindow(const QString& display)
    : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
{
}

XWindow::~XWindow()
{
    if (m_display)
        XCloseDisplay(m_display);
}

QString XWindow::titleOf(unsigned long window)
{
    const QString title = utf8Property(m_display, window, "_NET_WM_NAME");
    return title.isEmpty() ? legacyName(m_display, window) : title;
}

unsigned long XWindow::findByTitle(const QString& title)
{
    if (!m_display)
        return 0;
    Window root = DefaultRootWindow(m_display), parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    unsigned long found = 0;
    if (XQueryTree(m_display, root, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i) {
            if (isMapped(m_display, children[i]) && titleOf(children[i]) == title)
                found = children[i];
        }
        if (children)
            XFree(children);
    }
    return found;
}

unsigned long XWindow::waitForTitle(const QString& title, int timeoutMs)
{
    // Polled: a client is told of no window of another client unless it
    // selects for the root's events, and the title may come after the map.
    // Bounded by the deadline.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (const unsigned long window = findByTitle(title))
            return window;
        if (clock.elapsed() > timeoutMs)
            return 0;
        QThread::msleep(50);
    }
}

bool XWindow::requestClose(unsigned long window)
{
    if (!m_display)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(m_display, window, False, NoEventMask, &event) != 0;
    XFlush(m_display);
    return sent;
}

// Through the XTEST extension, so that the server delivers a real pointer
// press and release to whatever lies under the point.
bool XWindow::click(unsigned long window, int x, int y)
{
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!m_display || !XTestQueryExtension(m_display, &eventBase, &errorBase, &major, &minor))
        return false;
    Window child = 0;
    int rootX = 0, rootY = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(m_display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
    XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
    XSync(m_display, False);
    return true;
}

QImage XWindow::grab(unsigned long window)
{
    XWindowAttributes attributes;
    if (!m_display || !XGetWindowAttributes(m_display, window, &attributes))
        return QImage();
    XImage* shot = XGetImage(m_display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                             AllPlanes, ZPixmap);
    if (!shot)
        return QImage();
    QImage image(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            line[x] = qRgb(channel(pixel, shot->red_mask), channel(pixel, shot->green_mask),
                           channel(pixel, shot->blue_mask));
        }
    }
    XDestroyImage(shot);
    return image;
}
