#pragma once

#include <QObject>
#include <QString>
#include <QVector>

class QComboBox;
class QMenu;
class QToolButton;

// The record types a page of the window lists. Its list (comboBox or
// comboBox_2) holds the five types at the positions of their codes, then
// 全部类型 at position 5; a 多选 button beside it picks several types from
// check boxes, in a menu that stays open while they are ticked (click,
// Space or Enter; Esc closes it). While several are picked, the list shows them as one extra
// entry after 全部类型, which any other choice in the list removes again.
class TypeChooser : public QObject
{
    Q_OBJECT

public:
    static constexpr int kAllTypesIndex = 5;
    static QString allTypesCaption();

    // Fills `list` and gives `picker` its menu.
    TypeChooser(QComboBox* list, QToolButton* picker, QObject* parent = nullptr);

    // The chosen type codes in code order; empty: every type.
    QVector<int> types() const;
    // Chooses these types (one, several, or none for all).
    void setTypes(const QVector<int>& types);
    // A short name of the choice for the line above the records.
    QString caption() const;

private:
    void syncChecks();
    void takeChecks();

    QComboBox* m_list;
    QMenu* m_menu;
    QVector<int> m_several; // two or more, while the extra entry is shown
};
