#pragma once

#include <QMainWindow>
#include <QMap>
#include <QString>

#include <vxSyslog/RecordList.h>
#include "ui_Quarrow.h"

class QCloseEvent;

// The viewer's only window. It starts the log service before its form exists
// and releases it when it goes, so every query it runs finds the service up.
// All five buttons share one slot, which tells them apart by object name.
class Quarrow : public QMainWindow
{
    Q_OBJECT

public:
    explicit Quarrow(QWidget* parent = nullptr);
    ~Quarrow() override;

public slots:
    void onButtonClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void startLogService();
    void fillTypeLists();
    void presetDates();
    void connectButtons();
    void restoreRememberedType();

    void queryDay();
    void queryRange();
    void exportDay();
    void rememberDayType();
    void showQueryResult(const SystemLog::RecordList& records);
    void inform(const QString& text);

    Ui::QuarrowClass ui;
    QMap<int, QString> m_typeMap;
    int m_comBoxIndex;
};
