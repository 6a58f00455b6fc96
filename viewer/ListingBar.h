#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QMenu;
class QToolButton;
class ListingLine;

// The row between the window's pages and the result pane: a line saying
// what the pane lists, the filter field with its ".*" switch (plain text,
// or a regular expression) and its saved filters (筛选方案), 最新在前
// (newest first) and 更多 (the window's actions on the listing: go to a
// time, a record's detail, CSV, print, PDF). The window decides what a
// change does (listingChanged()) and fills the two menus; the order is
// remembered in the settings file given.
//
// The filter finds what the operator typed: plain text unless ".*" is on.
// An expression that is not valid is said at the field as it is typed, and
// no query runs with it (filterIsUsable()).
class ListingBar : public QWidget
{
    Q_OBJECT

public:
    ListingBar(const QString& settingsFile, QWidget* parent = nullptr);

    QString filter() const;
    // Puts a filter into the field (a saved one, or a listing asked for
    // elsewhere), as plain text or a regular expression.
    void setFilter(const QString& text, bool regex);
    // Whether filter() is a regular expression rather than plain text.
    bool filterIsRegex() const;
    // Why the filter cannot be used (an invalid regular expression); empty
    // when it can.
    QString filterProblem() const;
    // False, with the problem shown at the field and the focus there, when
    // the filter cannot be used.
    bool filterIsUsable();
    bool newestFirst() const;
    void focusFilter();
    QMenu* savedFiltersMenu() const;
    QMenu* actionsMenu() const;

    // "报警记录 · 2026-12-09 · 筛选“主轴” · 共 1,234 条": the file only when it
    // is not the working folder's ./dbLog.db, the filter only when set (a
    // regular expression as 正则“…”). Where the row is too narrow, the start
    // is cut ("…"), never the count.
    void showLine(const QString& file, const QString& types, const QString& period, const QString& filter,
                  bool filterIsRegex, const QString& status);
    void showFile(const QString& file);
    // After the status: where the last jump landed; empty: none.
    void showNote(const QString& note);
    QString line() const;

signals:
    // Enter in the filter field, the filter's kind or newest first switched.
    void listingChanged();

private:
    void showText();
    void checkFilter();
    void showFilterProblem();
    void askForListing();

    ListingLine* m_line;
    QLineEdit* m_filter;
    QToolButton* m_regex;
    QToolButton* m_saved;
    QCheckBox* m_newestFirst;
    QToolButton* m_more;
    QString m_what;
    QString m_status;
    QString m_note;
    QString m_problem;
};
