#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QMenu;
class QToolButton;

// The machines the pane lists, when the window reads several (files merged,
// or the fleet's central database). A button beside each page's type list
// opens one menu shared by both: 全部机器, then a tick per machine; each
// tick changes the choice at once. The buttons show only while there is
// more than one machine to choose from.
class MachineChooser : public QObject
{
    Q_OBJECT

public:
    static QString allMachinesCaption();

    explicit MachineChooser(QObject* parent = nullptr);

    void addButton(QToolButton* button);
    // The machines to choose from; a choice of machines still among them stays.
    void setMachines(const QStringList& machines);
    QStringList machines() const { return m_machines; }

    // The chosen machines in the list's order; empty: all of them.
    QStringList chosen() const { return m_chosen; }
    void setChosen(const QStringList& machines);
    // "全部机器", one machine's name, or "3 台机器".
    QString caption() const;

signals:
    void chosenChanged();

private:
    QStringList known(const QStringList& machines) const;
    void rebuildMenu();
    void syncChecks();
    void takeChecks();
    void showChoice();

    QMenu* m_menu;
    QList<QToolButton*> m_buttons;
    QStringList m_machines;
    QStringList m_chosen;
};
