#include "StayOpenMenu.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

void StayOpenMenu::install(QMenu* menu)
{
    menu->installEventFilter(new StayOpenMenu(menu));
}

StayOpenMenu::StayOpenMenu(QMenu* menu)
    : QObject(menu)
    , m_menu(menu)
{
}

bool StayOpenMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_menu)
        return false;
    QAction* tick = nullptr;
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            tick = m_menu->actionAt(mouse->pos());
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select)
            tick = m_menu->activeAction();
    }
    if (!tick || !tick->isCheckable() || !tick->isEnabled() || tick->menu())
        return false;
    tick->trigger(); // toggles it and tells whoever listens
    m_menu->update();
    return true;
}
