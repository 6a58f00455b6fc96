#include "FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace {

constexpr int kWidth = 2;

} // namespace

FocusRing::FocusRing(QWidget* window)
    : QWidget(window)
{
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
}

void FocusRing::follow(QWidget* now)
{
    if (m_target)
        m_target->removeEventFilter(this);
    const bool control = now && parentWidget()->isAncestorOf(now);
    m_target = control ? now : nullptr;
    if (!m_target) {
        hide();
        return;
    }
    m_target->installEventFilter(this);
    place();
}

// Around the control, in the window's coordinates, on top of everything.
void FocusRing::place()
{
    if (!m_target || !m_target->isVisible()) {
        hide();
        return;
    }
    const QRect around(m_target->mapTo(parentWidget(), QPoint(0, 0)), m_target->size());
    setGeometry(around.adjusted(-kWidth, -kWidth, kWidth, kWidth));
    raise();
    show();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_target
        && (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show
            || event->type() == QEvent::Hide))
        place();
    return QWidget::eventFilter(watched, event);
}

void FocusRing::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Highlight), kWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0));
}
