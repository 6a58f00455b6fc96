#include "MachineChooser.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

QString MachineChooser::allMachinesCaption()
{
    return QStringLiteral("全部机器");
}

MachineChooser::MachineChooser(QObject* parent)
    : QObject(parent)
    , m_menu(new QMenu)
{
    connect(this, &QObject::destroyed, m_menu, &QObject::deleteLater);
}

void MachineChooser::addButton(QToolButton* button)
{
    m_buttons << button;
    button->setMenu(m_menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolTip(QStringLiteral("只列出这几台机器的记录"));
    showChoice();
}

void MachineChooser::setMachines(const QStringList& machines)
{
    m_machines = machines;
    m_chosen = known(m_chosen);
    rebuildMenu();
    showChoice();
}

void MachineChooser::setChosen(const QStringList& machines)
{
    m_chosen = known(machines);
    syncChecks();
    showChoice();
    emit chosenChanged();
}

// Those of `machines` in the list, in its order; all of them is none.
QStringList MachineChooser::known(const QStringList& machines) const
{
    QStringList chosen;
    for (const QString& machine : m_machines)
        if (machines.contains(machine))
            chosen << machine;
    return chosen.size() == m_machines.size() ? QStringList() : chosen;
}

QString MachineChooser::caption() const
{
    if (m_chosen.isEmpty())
        return allMachinesCaption();
    if (m_chosen.size() == 1)
        return m_chosen.first();
    return QStringLiteral("%1 台机器").arg(m_chosen.size());
}

void MachineChooser::rebuildMenu()
{
    m_menu->clear();
    QAction* all = m_menu->addAction(allMachinesCaption());
    all->setCheckable(true);
    connect(all, &QAction::triggered, this, [this] { setChosen(QStringList()); });
    m_menu->addSeparator();
    for (const QString& machine : m_machines) {
        QAction* check = m_menu->addAction(machine);
        check->setCheckable(true);
        check->setData(machine);
        connect(check, &QAction::triggered, this, &MachineChooser::takeChecks);
    }
    syncChecks();
}

void MachineChooser::syncChecks()
{
    for (QAction* check : m_menu->actions())
        if (check->isCheckable())
            check->setChecked(check->data().isValid() ? m_chosen.contains(check->data().toString()) : m_chosen.isEmpty());
}

// Nothing ticked is every machine again.
void MachineChooser::takeChecks()
{
    QStringList ticked;
    for (QAction* check : m_menu->actions())
        if (check->isCheckable() && check->data().isValid() && check->isChecked())
            ticked << check->data().toString();
    setChosen(ticked);
}

void MachineChooser::showChoice()
{
    for (QToolButton* button : m_buttons) {
        button->setText(caption());
        button->setVisible(m_machines.size() > 1);
    }
}
