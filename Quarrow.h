#pragma once

#include <QMainWindow>
#include <QMap>
#include <QDateTime>
#include <QString>

#include <optional>

#include <vxSyslog/ViewerQuery.h>

#include "ui_Quarrow.h"

class ListingBar;
class QCloseEvent;
class TypeChooser;

// The viewer's only window. It starts the log service on ./dbLog.db before
// its form exists and releases it when it goes. All five buttons share one
// slot, which tells them apart by object name.
//
// Queries and the export read the log database the window shows: ./dbLog.db
// of the working folder, or a file opened with openLogFile() (`Quarrow FILE`,
// or a file dropped onto the window), always read-only and never on the GUI
// thread: the result pane lists a query through its worker, and the export
// counts and writes on a thread of its own while the window goes on answering.
class Quarrow : public QMainWindow
{
    Q_OBJECT

public:
    static QString defaultTitle();

    explicit Quarrow(QWidget* parent = nullptr);
    // Shows the log database `logFile` from the start (`Quarrow FILE`). The
    // log service is not started: the viewer logs nothing itself, and no
    // ./dbLog.db is made in the working folder.
    explicit Quarrow(const QString& logFile, QWidget* parent = nullptr);
    ~Quarrow() override;

    // Shows the log database at `path` from now on (read-only); the title
    // names it. The log service stays on ./dbLog.db.
    void openLogFile(const QString& path);
    QString logFile() const { return m_databasePath; }

public slots:
    void onButtonClicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startLogService();
    void fillTypeLists();
    void presetDates();
    void connectButtons();
    void restoreRememberedType();
    void acceptDroppedFiles();
    void showStartHint();
    void orderTabs();
    void addListingBar();
    void addKeys();
    void fitSize();
    void showRangePage();
    void repeatQuery();
    void runListing();
    void showListingLine(const QString& status);
    SystemLog::ViewerQuery withFilterAndOrder(SystemLog::ViewerQuery query) const;

    void queryDay();
    void queryRange();
    void exportDay();
    void rememberDayType();
    SystemLog::ViewerQuery listingOf(const TypeChooser* types) const;
    void inform(const QString& text);

    Ui::QuarrowClass ui;
    QMap<int, QString> m_typeMap;
    int m_comBoxIndex;
    QString m_databasePath;
    // The query the pane lists, for F5, the filter and the line above it.
    struct Listing
    {
        bool isDay;
        SystemLog::ViewerQuery query;
        QString types;
        QDate day;
        QDateTime start;
        QDateTime end;
    };
    std::optional<Listing> m_last;
    QDate m_rangeDay;
    ListingBar* m_listingBar = nullptr;
    TypeChooser* m_dayTypes = nullptr;
    TypeChooser* m_rangeTypes = nullptr;
    bool m_exporting = false;
};
