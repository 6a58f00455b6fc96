#pragma once

#include <QMainWindow>
#include <QHash>
#include <QMap>
#include <QSizePolicy>
#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

#include <vxSyslog/LogQuery.h>

#include "LogSources.h"
#include "StartLog.h"
#include "ui_Quarrow.h"

class DateTimeTyping;
class ListingBar;
class MachineChooser;
class QAction;
class ReportPage;
class ReportRunner;
class QCloseEvent;
class QPrinter;
class RecordDetailDialog;
class TypeChooser;
struct PaneListing;
struct RecordDetail;
struct SavedFilter;

// The viewer's only window. It starts the log service on ./dbLog.db before
// its form exists and releases it when it goes. All five buttons share one
// slot, which tells them apart by object name.
//
// Queries and the export read the log database the window shows: ./dbLog.db
// of the working folder, or files opened with openLogs() (`Quarrow FILE…`,
// or files dropped onto the window; several are merged into one timeline,
// each record naming its machine), or the fleet's central database
// (`Quarrow postgresql://…`), always read-only and never on the GUI thread: the result pane lists a query through its worker, and the export
// counts and writes on a thread of its own while the window goes on answering.
class Quarrow : public QMainWindow
{
    Q_OBJECT

public:
    static QString defaultTitle();

    explicit Quarrow(QWidget* parent = nullptr);
    // Shows these logs from the start (`Quarrow FILE…`): files, "NAME=FILE",
    // or one postgresql:// address. The log service is not started: the
    // viewer logs nothing itself, and no ./dbLog.db is made in the working
    // folder.
    explicit Quarrow(const QStringList& logs, QWidget* parent = nullptr);
    explicit Quarrow(const QString& logFile, QWidget* parent = nullptr)
        : Quarrow(logFile.isEmpty() ? QStringList() : QStringList(logFile), parent)
    {
    }
    // As `start` says (main.cpp): its logs as above, the working folder's
    // log with the service started on it, or no log at all: then nothing is
    // made anywhere, the pane says what to set, and the queries wait for a
    // log (a dropped file opens one).
    explicit Quarrow(const StartLog& start, QWidget* parent = nullptr);
    ~Quarrow() override;

    // Shows these logs from now on (read-only); the title names them. The
    // log service stays on ./dbLog.db.
    void openLogs(const QStringList& logs);
    void openLogFile(const QString& path);
    QString logFile() const { return m_sources.locations.value(0); }
    MachineChooser* machineChooser() const { return m_machines; }
    RecordDetailDialog* recordDetail() const { return m_detail; }

    // The window's actions on what the pane lists (also in 更多 and the
    // pane's context menu).
    // Ctrl+G: asks for a time of the listed period and shows the first
    // record at or after it.
    void goToTime();
    // Enter or a double click on a record: its detail, beside the window.
    void showRecordDetail(int record);
    // What the pane lists, as a CSV file chosen in a dialog.
    void exportCsv();
    // Ctrl+P: what the pane lists on a printer chosen in the print dialog;
    // or into a PDF file chosen in a file dialog.
    void printListing();
    void exportPdf();
    // Saves the shown page's types and the filter text under a name asked
    // for; applies a saved one (its types on the shown page, its filter)
    // and lists again; deletes one.
    void saveFilter();
    void applyFilter(const SavedFilter& filter);
    void deleteFilter(const QString& name);
    ReportPage* reportPage() const { return m_reportPage; }

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
    void addReportPage();
    void showReportPage();
    void fitPagesToCurrent(int current);
    void leaveReportPage(int page);
    void listFromReport(const QDateTime& start, const QDateTime& end, const QVector<int>& types,
                        const QStringList& machines, const QString& pattern);
    void markFloods();
    void repeatQuery();
    void runListing();
    void showListingLine(const QString& status);
    SystemLog::LogQuery withFilterAndOrder(SystemLog::LogQuery query) const;

    void addListingActions();
    void fillSavedFiltersMenu();
    void showPreceding(const QString& machine, qint64 id, const QString& datetime);
    void takeDetail(const RecordDetail& detail);
    void showNote(const QString& note);
    std::optional<PaneListing> listingToWrite(const QString& verb);
    QString chooseExportFile(const QString& format, const QString& suffix);
    QStringList printHeader(const PaneListing& listed) const;
    QString listedPeriod() const;
    QDateTime listedPeriodStart() const;
    QDateTime listedPeriodEnd() const;
    // Prints on `printer` with progress and 取消; false when nothing was
    // printed (cancelled, or the reason in `error`).
    bool printOn(QPrinter& printer, const PaneListing& listed, int& pages, QString& error);
    void restoreRememberedPeriod();
    void rememberDay();
    void rememberRange();

    void queryDay();
    void queryRange();
    bool rangeIsTyped();
    void exportDay();
    void rememberDayType();
    SystemLog::LogQuery listingOf(const TypeChooser* types) const;
    void inform(const QString& text);
    static QString absoluteLocation(const QString& log);
    QString sourcesName() const;
    // What the pane lists: the logs, of the machines chosen.
    LogSources listedSources() const;
    bool hasLog() const { return !m_sources.locations.isEmpty(); }

    Ui::QuarrowClass ui;
    QMap<int, QString> m_typeMap;
    int m_comBoxIndex;
    LogSources m_sources;
    MachineChooser* m_machines;
    // The query the pane lists, for F5, the filter and the line above it.
    struct Listing
    {
        bool isDay;
        SystemLog::LogQuery query;
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
    bool m_busyWithFile = false; // a CSV, print or PDF runs
    bool m_choosingMachine = false; // the machine choice is set for a listing that follows
    QString m_note;
    RecordDetailDialog* m_detail = nullptr;
    std::unique_ptr<PaneListing> m_detailListing; // the listing the detail's record is of
    int m_detailRecord = -1;
    ReportPage* m_reportPage = nullptr;
    QHash<QWidget*, QSizePolicy> m_pagePolicies;  // each page's own, while another is shown
    ReportRunner* m_floodRunner = nullptr;  // the floods of the period listed, for the strip
    // What the pane says while no log is shown.
    QString m_noLogHint;
    DateTimeTyping* m_startTyping = nullptr;
    DateTimeTyping* m_endTyping = nullptr;
};
