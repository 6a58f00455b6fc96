#include "TypeChooser.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

#include <vxSyslog/RecordTypes.h>

#include "StayOpenMenu.h"

QString TypeChooser::allTypesCaption()
{
    return QStringLiteral("全部类型");
}

TypeChooser::TypeChooser(QComboBox* list, QToolButton* picker, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_menu(new QMenu(picker))
{
    for (int type = 0; type < SystemLog::kRecordTypeCount; ++type) {
        m_list->insertItem(type, SystemLog::recordTypeCaption(type), QVariant(type));
        QAction* check = m_menu->addAction(SystemLog::recordTypeCaption(type));
        check->setCheckable(true);
        check->setData(type);
        // Each tick changes the choice at once.
        connect(check, &QAction::triggered, this, &TypeChooser::takeChecks);
    }
    m_list->insertItem(kAllTypesIndex, allTypesCaption(), QVariant(-1));
    // Sized for one caption: several joined are cut in the list (the line
    // above the records names them all), never widening the window.
    m_list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_list->setMinimumContentsLength(SystemLog::recordTypeCaption(0).size() + 2);
    picker->setText(QStringLiteral("多选"));
    picker->setToolTip(QStringLiteral("同时查询几种记录类型"));
    picker->setMenu(m_menu);
    picker->setPopupMode(QToolButton::InstantPopup);
    StayOpenMenu::install(m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, &TypeChooser::syncChecks);
    connect(m_list, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (index <= kAllTypesIndex && !m_several.isEmpty()) {
            m_several.clear();
            m_list->removeItem(kAllTypesIndex + 1);
        }
    });
}

QVector<int> TypeChooser::types() const
{
    if (!m_several.isEmpty())
        return m_several;
    const int index = m_list->currentIndex();
    if (index < 0 || index >= kAllTypesIndex)
        return {};
    return {m_list->itemData(index).toInt()};
}

void TypeChooser::setTypes(const QVector<int>& types)
{
    if (!m_several.isEmpty())
        m_list->removeItem(kAllTypesIndex + 1);
    m_several.clear();
    if (types.isEmpty() || types.size() >= SystemLog::kRecordTypeCount) {
        m_list->setCurrentIndex(kAllTypesIndex);
        return;
    }
    if (types.size() == 1) {
        m_list->setCurrentIndex(types.first());
        return;
    }
    m_several = types;
    std::sort(m_several.begin(), m_several.end());
    m_list->insertItem(kAllTypesIndex + 1, caption(), QVariant(-2));
    m_list->setItemData(kAllTypesIndex + 1, caption(), Qt::ToolTipRole);
    m_list->setCurrentIndex(kAllTypesIndex + 1);
}

QString TypeChooser::caption() const
{
    const QVector<int> chosen = types();
    if (chosen.isEmpty())
        return allTypesCaption();
    QStringList captions;
    for (int type : chosen)
        captions << SystemLog::recordTypeCaption(type);
    return captions.join(QStringLiteral("、"));
}

void TypeChooser::syncChecks()
{
    const QVector<int> chosen = types();
    for (QAction* check : m_menu->actions())
        check->setChecked(chosen.isEmpty() || chosen.contains(check->data().toInt()));
}

// Nothing ticked keeps the last choice: a query always has a type.
void TypeChooser::takeChecks()
{
    QVector<int> ticked;
    for (QAction* check : m_menu->actions())
        if (check->isChecked())
            ticked << check->data().toInt();
    if (!ticked.isEmpty())
        setTypes(ticked);
    syncChecks(); // the menu stays open: it shows the choice as it now is
}
