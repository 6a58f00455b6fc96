#pragma once

#include <QDialog>
#include <QString>

#include "RecordDetail.h"

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

// One record's detail (a double click on it in the pane, or Enter): its time,
// type, machine (or file), id and whole text, and a copy of that one record.
// For an alarm it lists what happened on its machine in the minutes before
// it (parameter changes, user actions, status records; 10 minutes unless
// the operator sets another span), each a click away in the listing
// (precedingChosen()). The window reads; this dialog only shows what was
// read and asks for another span (minutesChanged()). It stays open beside
// the window, which it does not block.
class RecordDetailDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RecordDetailDialog(QWidget* parent = nullptr);

    // Before the detail of another record is read.
    void showReading();
    // `source`: the record's machine where the listing names machines (then
    // `namesMachines`), else the file's name.
    void showDetail(const RecordDetail& detail, const QString& source, bool namesMachines);
    const RecordDetail& detail() const { return m_detail; }
    int minutes() const;
    // The record as one block naming its type (and machine, of several).
    QString recordText() const;

public slots:
    void copyRecord();

signals:
    void minutesChanged(int minutes);
    // A record of the list before the alarm: its machine, id and time stamp.
    void precedingChosen(const QString& machine, qint64 id, const QString& datetime);

private:
    void showPreceding();
    void choose(QTreeWidgetItem* item);

    RecordDetail m_detail;
    bool m_namesMachines = false;
    QLabel* m_time;
    QLabel* m_type;
    QLabel* m_sourceCaption;
    QLabel* m_source;
    QLabel* m_id;
    QPlainTextEdit* m_message;
    QGroupBox* m_precedingBox;
    QSpinBox* m_minutes;
    QTreeWidget* m_preceding;
    QLabel* m_precedingStatus;
};
