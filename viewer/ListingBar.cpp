#include "ListingBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>

namespace {

const QString kNewestFirstKey = QStringLiteral("newestFirst");

} // namespace

ListingBar::ListingBar(const QString& settingsFile, QWidget* parent)
    : QWidget(parent)
    , m_line(new QLabel(this))
    , m_filter(new QLineEdit(this))
    , m_newestFirst(new QCheckBox(QStringLiteral("最新在前"), this))
{
    setObjectName(QStringLiteral("listingBar"));
    m_line->setObjectName(QStringLiteral("listingLabel"));
    m_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_line->setMinimumWidth(1); // a long file name is cut, not the window widened
    m_filter->setObjectName(QStringLiteral("filterEdit"));
    m_filter->setPlaceholderText(QStringLiteral("筛选消息（Ctrl+L）"));
    m_filter->setToolTip(QStringLiteral("只列出消息含有这段文字（或符合这个正则表达式）的记录；"
                                        "含大写字母时区分大小写。按 Enter 重新查询。"));
    m_filter->setClearButtonEnabled(true);
    m_newestFirst->setObjectName(QStringLiteral("newestFirstBox"));
    m_newestFirst->setChecked(QSettings(settingsFile, QSettings::IniFormat).value(kNewestFirstKey, false).toBool());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(m_line, 1);
    row->addWidget(m_filter);
    row->addWidget(m_newestFirst);

    connect(m_filter, &QLineEdit::returnPressed, this, &ListingBar::listingChanged);
    connect(m_newestFirst, &QCheckBox::toggled, this, [this, settingsFile](bool checked) {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(kNewestFirstKey, checked);
        settings.sync();
        emit listingChanged();
    });
}

void ListingBar::setFilter(const QString& pattern)
{
    m_filter->setText(pattern);
}

QString ListingBar::filter() const
{
    return m_filter->text();
}

bool ListingBar::newestFirst() const
{
    return m_newestFirst->isChecked();
}

void ListingBar::focusFilter()
{
    m_filter->setFocus(Qt::ShortcutFocusReason);
    m_filter->selectAll();
}

void ListingBar::showLine(const QString& file, const QString& types, const QString& period, const QString& filter,
                          const QString& status)
{
    QStringList parts;
    if (!file.isEmpty())
        parts << file;
    parts << types << period;
    if (!filter.isEmpty())
        parts << QStringLiteral("筛选“%1”").arg(filter);
    parts << status;
    m_line->setText(parts.join(QStringLiteral(" · ")));
}

void ListingBar::showFile(const QString& file)
{
    m_line->setText(file);
}

QString ListingBar::line() const
{
    return m_line->text();
}
