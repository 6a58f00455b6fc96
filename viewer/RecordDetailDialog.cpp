#include "RecordDetailDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <vxSyslog/AlarmContext.h>
#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/RecordFormat.h>

namespace {

constexpr int kMostMinutes = 24 * 60;

QLabel* selectableLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A stored text as the pane shows it: bytes that are not UTF-8 as U+FFFD.
QString shown(const QByteArray& stored)
{
    return QString::fromUtf8(stored);
}

// The message on one line for the list, its line ends as "⏎".
QString oneLine(const QByteArray& message)
{
    QString text = shown(message);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("⏎"));
    text.replace(QLatin1Char('\n'), QStringLiteral("⏎"));
    text.replace(QLatin1Char('\r'), QStringLiteral("⏎"));
    return text;
}

} // namespace

RecordDetailDialog::RecordDetailDialog(QWidget* parent)
    : QDialog(parent)
    , m_time(selectableLabel("detailTime", this))
    , m_type(selectableLabel("detailType", this))
    , m_sourceCaption(new QLabel(this))
    , m_source(selectableLabel("detailSource", this))
    , m_id(selectableLabel("detailId", this))
    , m_message(new QPlainTextEdit(this))
    , m_precedingBox(new QGroupBox(QStringLiteral("报警前发生了什么（本机的参数修改、用户操作和状态记录）"), this))
    , m_minutes(new QSpinBox(this))
    , m_preceding(new QTreeWidget(this))
    , m_precedingStatus(new QLabel(this))
{
    setObjectName(QStringLiteral("recordDetail"));
    setWindowTitle(QStringLiteral("记录详情"));
    resize(640, 560);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("时间："), m_time);
    fields->addRow(QStringLiteral("类型："), m_type);
    fields->addRow(m_sourceCaption, m_source);
    fields->addRow(QStringLiteral("编号："), m_id);

    m_message->setObjectName(QStringLiteral("detailMessage"));
    m_message->setReadOnly(true);
    m_message->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    m_precedingBox->setObjectName(QStringLiteral("precedingBox"));
    m_minutes->setObjectName(QStringLiteral("precedingMinutes"));
    m_minutes->setRange(1, kMostMinutes);
    m_minutes->setValue(SystemLog::AlarmContext::kDefaultMinutes);
    m_minutes->setSuffix(QStringLiteral(" 分钟"));
    m_minutes->setKeyboardTracking(false);
    m_preceding->setObjectName(QStringLiteral("precedingList"));
    m_preceding->setHeaderLabels({QStringLiteral("时间"), QStringLiteral("类型"), QStringLiteral("内容")});
    m_preceding->setRootIsDecorated(false);
    m_preceding->setUniformRowHeights(true);
    m_preceding->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_preceding->header()->setStretchLastSection(true);
    m_preceding->setToolTip(QStringLiteral("单击一条记录，在列表中显示它"));
    m_precedingStatus->setObjectName(QStringLiteral("precedingStatus"));
    m_precedingStatus->setWordWrap(true);
    auto* span = new QHBoxLayout;
    span->addWidget(new QLabel(QStringLiteral("报警前"), this));
    span->addWidget(m_minutes);
    span->addWidget(m_precedingStatus, 1);
    auto* before = new QVBoxLayout(m_precedingBox);
    before->addLayout(span);
    before->addWidget(m_preceding);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* copy = buttons->addButton(QStringLiteral("复制这条记录"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyRecordButton"));
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    connect(copy, &QPushButton::clicked, this, &RecordDetailDialog::copyRecord);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_minutes, QOverload<int>::of(&QSpinBox::valueChanged), this, &RecordDetailDialog::minutesChanged);
    connect(m_preceding, &QTreeWidget::itemClicked, this, &RecordDetailDialog::choose);
    connect(m_preceding, &QTreeWidget::itemActivated, this, &RecordDetailDialog::choose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(m_message, 1);
    layout->addWidget(m_precedingBox, 1);
    layout->addWidget(buttons);
    m_precedingBox->hide();
}

int RecordDetailDialog::minutes() const
{
    return m_minutes->value();
}

void RecordDetailDialog::showReading()
{
    m_precedingStatus->setText(QStringLiteral("正在读取…"));
    m_preceding->clear();
}

void RecordDetailDialog::showDetail(const RecordDetail& detail, const QString& source, bool namesMachines)
{
    m_detail = detail;
    m_namesMachines = namesMachines;
    m_sourceCaption->setText(namesMachines ? QStringLiteral("机器：") : QStringLiteral("文件："));
    m_source->setText(source);
    if (!detail.found) {
        const QString why = detail.error.isEmpty() ? QStringLiteral("这条记录已不在数据库中")
                                                   : QStringLiteral("无法读取这条记录：%1").arg(detail.error);
        for (QLabel* field : {m_time, m_type, m_id})
            field->clear();
        m_message->setPlainText(why);
        m_precedingBox->hide();
        return;
    }
    const SystemLog::LogRecord& record = detail.stored;
    m_time->setText(shown(record.datetime));
    m_type->setText(SystemLog::recordTypeName(record));
    m_id->setText(QString::number(record.id));
    m_message->setPlainText(shown(record.message));
    m_precedingBox->setVisible(detail.alarm);
    if (detail.alarm)
        showPreceding();
}

void RecordDetailDialog::showPreceding()
{
    m_preceding->clear();
    if (!m_detail.error.isEmpty()) {
        m_precedingStatus->setText(QStringLiteral("读取失败：%1").arg(m_detail.error));
        return;
    }
    for (const SystemLog::LogRecord& record : m_detail.preceding) {
        auto* item = new QTreeWidgetItem(m_preceding, {shown(record.datetime), SystemLog::recordTypeName(record), oneLine(record.message)});
        item->setToolTip(2, shown(record.message));
        item->setData(0, Qt::UserRole, record.id);
        item->setData(1, Qt::UserRole, shown(record.host));
    }
    const int count = int(m_detail.preceding.size());
    if (count == 0)
        m_precedingStatus->setText(QStringLiteral("这段时间本机没有参数修改、用户操作或状态记录"));
    else if (m_detail.more)
        m_precedingStatus->setText(QStringLiteral("共 %1 条（只列出离报警最近的 %1 条）").arg(SystemLog::groupedCount(count)));
    else
        m_precedingStatus->setText(QStringLiteral("共 %1 条").arg(SystemLog::groupedCount(count)));
    m_preceding->scrollToBottom(); // the nearest to the alarm
}

void RecordDetailDialog::choose(QTreeWidgetItem* item)
{
    if (item)
        emit precedingChosen(item->data(1, Qt::UserRole).toString(), item->data(0, Qt::UserRole).toLongLong(),
                             item->text(0));
}

QString RecordDetailDialog::recordText() const
{
    if (!m_detail.found)
        return QString();
    const SystemLog::LogRecord& record = m_detail.stored;
    return SystemLog::listingBlock(shown(record.datetime), true, SystemLog::recordTypeName(record), shown(record.message),
                                   false, m_namesMachines ? m_source->text() : QString());
}

void RecordDetailDialog::copyRecord()
{
    const QString text = recordText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}
