#pragma once

#include <QList>
#include <QString>
#include <QVector>

// Named filters an operator keeps for the next shift: a choice of record
// types and a filter text, under a name. They live in the viewer's settings
// file in a group of their own, "savedFilters" (an array of name, types and
// filter, and regex when the filter is a regular expression), beside the
// top-level keys; a saved name is unique, saving it
// again replaces it.
struct SavedFilter
{
    QString name;
    QVector<int> types; // empty: every type
    QString filter;
    bool regex = false; // the filter is a regular expression, not plain text

    bool operator==(const SavedFilter& other) const
    {
        return name == other.name && types == other.types && filter == other.filter && regex == other.regex;
    }
};

class SavedFilters
{
public:
    static QString groupName();

    explicit SavedFilters(const QString& settingsFile);

    // In the order they were first saved; entries without a name are skipped.
    QList<SavedFilter> all() const;
    bool contains(const QString& name) const;
    void save(const SavedFilter& filter);
    void remove(const QString& name);

private:
    void write(const QList<SavedFilter>& filters) const;

    QString m_file;
};
