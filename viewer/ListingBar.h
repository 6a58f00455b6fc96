#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

// The row between the window's pages and the result pane: a line saying
// what the pane lists, the filter field, and 最新在前 (newest first). The
// window decides what a change does (listingChanged()); the order is
// remembered in the settings file given.
class ListingBar : public QWidget
{
    Q_OBJECT

public:
    ListingBar(const QString& settingsFile, QWidget* parent = nullptr);

    QString filter() const;
    // Puts a pattern into the filter field (a listing asked for elsewhere).
    void setFilter(const QString& pattern);
    bool newestFirst() const;
    void focusFilter();

    // "报警记录 · 2026-12-09 · 筛选“主轴” · 共 1,234 条": the file only when it
    // is not the working folder's ./dbLog.db, the filter only when set.
    void showLine(const QString& file, const QString& types, const QString& period, const QString& filter,
                  const QString& status);
    void showFile(const QString& file);
    QString line() const;

signals:
    // Enter in the filter field, or newest first switched.
    void listingChanged();

private:
    QLabel* m_line;
    QLineEdit* m_filter;
    QCheckBox* m_newestFirst;
};
