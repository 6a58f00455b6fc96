#include "Quarrow.h"

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QSettings>
#include <QVariant>

#include <vxSyslog/DayExport.h>
#include <vxSyslog/RecordTypes.h>
#include <vxSyslog/vxSysLog.h>

#include "ResultPane.h"

namespace DayExport = SystemLog::DayExport;
using SystemLog::RecordList;
using SystemLog::vxSysLog;

namespace {

const QString kSettingsFile = QStringLiteral("./Quarrow.ini");
const QString kTypeIndexKey = QStringLiteral("comBoxIndex");
const QString kDayFormat = QStringLiteral("yyyy-MM-dd");
const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// Record type code -> caption, from the module that every program shares. The
// list position of a caption is its code.
QMap<int, QString> recordTypeCaptions()
{
    QMap<int, QString> captions;
    for (int type = 0; type < SystemLog::kRecordTypeCount; ++type)
        captions.insert(type, SystemLog::recordTypeCaption(type));
    return captions;
}

// The busy cursor for as long as a query runs; the window cannot answer then.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// The editors show dates as a Chinese reader writes them (2026/12/8); what is
// sent to the store is formatted separately and stays "yyyy-MM-dd".
void useChineseDates(QDateTimeEdit* editor, bool withTime)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    editor->setLocale(chinese);
    const QString date = chinese.dateFormat(QLocale::ShortFormat);
    editor->setDisplayFormat(withTime ? date + QStringLiteral(" HH:mm:ss") : date);
}

QDateTime todayAt(const QTime& time)
{
    QDateTime moment = QDateTime::currentDateTime();
    moment.setTime(time);
    return moment;
}

int selectedTypeCode(const QComboBox* list)
{
    return list->currentData(Qt::UserRole).toInt();
}

} // namespace

Quarrow::Quarrow(QWidget* parent)
    : QMainWindow(parent)
    , m_comBoxIndex(0)
{
    startLogService();
    ui.setupUi(this);
    m_typeMap = recordTypeCaptions();
    fillTypeLists();
    presetDates();
    connectButtons();
    setWindowIcon(QIcon(QStringLiteral(":/Resources/Log.png")));
    setWindowTitle(QStringLiteral("系统日志查询工具"));
    restoreRememberedType();
}

Quarrow::~Quarrow()
{
    vxSysLog::release();
}

void Quarrow::closeEvent(QCloseEvent* /*event*/)
{
    // Closing saves nothing and leaves the service to the destructor.
}

void Quarrow::startLogService()
{
    vxSysLog::instance()->init();
}

void Quarrow::fillTypeLists()
{
    for (auto it = m_typeMap.constBegin(); it != m_typeMap.constEnd(); ++it) {
        ui.comboBox->insertItem(it.key(), it.value(), QVariant(it.key()));
        ui.comboBox_2->insertItem(it.key(), it.value(), QVariant(it.key()));
    }
}

void Quarrow::presetDates()
{
    useChineseDates(ui.dateEdit, false);
    useChineseDates(ui.m_startdateTimeEdit, true);
    useChineseDates(ui.m_enddateTimeEdit, true);
    ui.dateEdit->setDateTime(QDateTime::currentDateTime());
    const QDateTime start = todayAt(QTime(0, 0, 0, 0));
    const QDateTime end = todayAt(QTime(23, 59, 59, 0));
    ui.m_startdateTimeEdit->setDateTime(start);
    ui.m_enddateTimeEdit->setDateTime(end);
}

void Quarrow::connectButtons()
{
    connect(ui.pushButton, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.toolButton, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.pushButton_2, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.toolButton_2, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
    connect(ui.m_pbExport, &QAbstractButton::clicked, this, &Quarrow::onButtonClicked);
}

// An index no list entry has (a hand-edited or stale file) is treated like a
// missing one, so that a type is always shown and a query always has one.
void Quarrow::restoreRememberedType()
{
    const QSettings settings(kSettingsFile, QSettings::IniFormat);
    const int stored = settings.value(kTypeIndexKey, 0).toInt();
    m_comBoxIndex = (stored >= 0 && stored < m_typeMap.size()) ? stored : 0;
    ui.comboBox->setCurrentIndex(m_comBoxIndex);
    ui.comboBox_2->setCurrentIndex(m_comBoxIndex);
}

void Quarrow::onButtonClicked()
{
    const QObject* source = sender();
    if (!source)
        return;
    const QString name = source->objectName();
    if (name == QLatin1String("pushButton"))
        queryDay();
    else if (name == QLatin1String("toolButton"))
        ui.stackedWidget->setCurrentIndex(1);
    else if (name == QLatin1String("pushButton_2"))
        queryRange();
    else if (name == QLatin1String("toolButton_2"))
        ui.stackedWidget->setCurrentIndex(0);
    else if (name == QLatin1String("m_pbExport"))
        exportDay();
}

// Written before the query runs, whatever it then finds.
void Quarrow::rememberDayType()
{
    m_comBoxIndex = ui.comboBox->currentIndex();
    QSettings settings(kSettingsFile, QSettings::IniFormat);
    settings.setValue(kTypeIndexKey, m_comBoxIndex);
    settings.sync();
}

void Quarrow::queryDay()
{
    const int type = selectedTypeCode(ui.comboBox);
    rememberDayType();
    const QString day = ui.dateEdit->date().toString(kDayFormat);
    BusyCursor busy;
    showQueryResult(vxSysLog::instance()->queryByDay(day, type));
}

void Quarrow::queryRange()
{
    const int type = selectedTypeCode(ui.comboBox_2);
    const QString start = ui.m_startdateTimeEdit->dateTime().toString(kDateTimeFormat);
    const QString end = ui.m_enddateTimeEdit->dateTime().toString(kDateTimeFormat);
    BusyCursor busy;
    showQueryResult(vxSysLog::instance()->queryByRange(start, end, type));
}

// A failed query is told apart from an empty one, so that the operator is
// never told "no records" when the store could not be read.
void Quarrow::showQueryResult(const RecordList& records)
{
    vxSysLog* service = vxSysLog::instance();
    if (service->lastQueryFailed())
        ui.textEdit->showNotice(ResultPane::queryFailedText(service->lastQueryError()));
    else if (records.isEmpty())
        ui.textEdit->showNotice(ResultPane::notFoundText());
    else
        ui.textEdit->showRecords(records);
}

void Quarrow::exportDay()
{
    const int type = selectedTypeCode(ui.comboBox);
    const QString day = ui.dateEdit->date().toString(kDayFormat);
    vxSysLog* service = vxSysLog::instance();
    const RecordList records = [&] {
        BusyCursor busy;
        return service->queryByDay(day, type);
    }();
    if (service->lastQueryFailed()) {
        inform(DayExport::queryFailedText(day, service->lastQueryError()));
        return;
    }
    if (records.isEmpty()) {
        inform(DayExport::noRecordsText(day));
        return;
    }

    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("请选择文件存储路径"), QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        inform(QStringLiteral("路径无效"));
        return;
    }

    const QString path = DayExport::filePath(folder, day);
    const DayExport::Outcome outcome = [&] {
        BusyCursor busy;
        return DayExport::writeRecords(path, records);
    }();
    inform(DayExport::outcomeText(outcome, path));
}

void Quarrow::inform(const QString& text)
{
    QMessageBox::information(this, QStringLiteral("提示"), text, QMessageBox::Ok, QMessageBox::NoButton);
}
