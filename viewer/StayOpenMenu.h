#pragma once

#include <QObject>

class QMenu;

// Keeps a menu of ticks open while the operator ticks: a click, Space or
// Enter on a checkable entry toggles it and the menu stays; Esc (or a
// click outside) closes it. Any other entry acts and closes the menu as
// usual. Installed on the menu, owned by it.
class StayOpenMenu : public QObject
{
    Q_OBJECT

public:
    static void install(QMenu* menu);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit StayOpenMenu(QMenu* menu);

    QMenu* m_menu;
};
