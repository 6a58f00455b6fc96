#include "ListingBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QToolButton>
#include <QToolTip>

namespace {

const QString kNewestFirstKey = QStringLiteral("newestFirst");

const QString kPlainTip = QStringLiteral("只列出消息含有这段文字的记录（按原文查找，括号等符号也一样）；"
                                         "含大写字母时区分大小写。按 Enter 重新查询。");
const QString kRegexTip = QStringLiteral("只列出消息符合这个正则表达式的记录；含大写字母时区分大小写。按 Enter 重新查询。");

} // namespace

ListingBar::ListingBar(const QString& settingsFile, QWidget* parent)
    : QWidget(parent)
    , m_line(new QLabel(this))
    , m_filter(new QLineEdit(this))
    , m_regex(new QToolButton(this))
    , m_newestFirst(new QCheckBox(QStringLiteral("最新在前"), this))
{
    setObjectName(QStringLiteral("listingBar"));
    m_line->setObjectName(QStringLiteral("listingLabel"));
    m_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_line->setMinimumWidth(1); // a long file name is cut, not the window widened
    m_filter->setObjectName(QStringLiteral("filterEdit"));
    m_filter->setClearButtonEnabled(true);
    m_regex->setObjectName(QStringLiteral("regexToggle"));
    m_regex->setText(QStringLiteral(".*"));
    m_regex->setCheckable(true);
    m_regex->setToolTip(QStringLiteral("按正则表达式筛选（不按下时按原文查找）"));
    m_newestFirst->setObjectName(QStringLiteral("newestFirstBox"));
    m_newestFirst->setChecked(QSettings(settingsFile, QSettings::IniFormat).value(kNewestFirstKey, false).toBool());
    checkFilter();

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(m_line, 1);
    auto* filter = new QHBoxLayout;
    filter->setSpacing(0);
    filter->addWidget(m_filter);
    filter->addWidget(m_regex);
    row->addLayout(filter);
    row->addWidget(m_newestFirst);

    connect(m_filter, &QLineEdit::textChanged, this, &ListingBar::checkFilter);
    connect(m_filter, &QLineEdit::returnPressed, this, &ListingBar::askForListing);
    connect(m_regex, &QToolButton::toggled, this, [this] {
        checkFilter();
        if (!m_filter->text().isEmpty())
            askForListing();
    });
    connect(m_newestFirst, &QCheckBox::toggled, this, [this, settingsFile](bool checked) {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(kNewestFirstKey, checked);
        settings.sync();
        emit listingChanged();
    });
}

void ListingBar::setRegexFilter(const QString& pattern)
{
    m_regex->setChecked(true);
    m_filter->setText(pattern);
}

QString ListingBar::filter() const
{
    return m_filter->text();
}

bool ListingBar::filterIsRegex() const
{
    return m_regex->isChecked();
}

QString ListingBar::filterProblem() const
{
    return m_problem;
}

// As the operator types: the field says which kind the filter is, and an
// expression that is not valid is marked and said at once.
void ListingBar::checkFilter()
{
    m_filter->setPlaceholderText(filterIsRegex() ? QStringLiteral("正则表达式筛选（Ctrl+L）")
                                                 : QStringLiteral("筛选消息（Ctrl+L）"));
    m_problem.clear();
    if (filterIsRegex() && !m_filter->text().isEmpty()) {
        const QRegularExpression pattern(m_filter->text());
        if (!pattern.isValid())
            m_problem = QStringLiteral("正则表达式无效（第 %1 个字符）：%2")
                            .arg(pattern.patternErrorOffset() + 1)
                            .arg(pattern.errorString());
    }
    m_filter->setToolTip(m_problem.isEmpty() ? (filterIsRegex() ? kRegexTip : kPlainTip) : m_problem);
    QPalette colours = palette();
    if (!m_problem.isEmpty())
        colours.setColor(QPalette::Text, Qt::red);
    m_filter->setPalette(colours);
    if (m_problem.isEmpty())
        QToolTip::hideText();
    else if (m_filter->hasFocus())
        showFilterProblem();
}

void ListingBar::showFilterProblem()
{
    QToolTip::showText(m_filter->mapToGlobal(QPoint(0, m_filter->height())), m_problem, m_filter);
}

bool ListingBar::filterIsUsable()
{
    if (m_problem.isEmpty())
        return true;
    m_filter->setFocus(Qt::OtherFocusReason);
    showFilterProblem();
    return false;
}

void ListingBar::askForListing()
{
    if (filterIsUsable())
        emit listingChanged();
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
                          bool filterIsRegex, const QString& status)
{
    QStringList parts;
    if (!file.isEmpty())
        parts << file;
    parts << types << period;
    if (!filter.isEmpty())
        parts << (filterIsRegex ? QStringLiteral("正则“%1”") : QStringLiteral("筛选“%1”")).arg(filter);
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
