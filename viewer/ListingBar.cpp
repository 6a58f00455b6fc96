#include "ListingBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalBlocker>
#include <QToolButton>
#include <QToolTip>

namespace {

const QString kNewestFirstKey = QStringLiteral("newestFirst");
const QString kSeparator = QStringLiteral(" · ");

const QString kPlainTip = QStringLiteral("只列出消息含有这段文字的记录（按原文查找，括号等符号也一样）；"
                                         "含大写字母时区分大小写。按 Enter 重新查询。");
const QString kRegexTip = QStringLiteral("只列出消息符合这个正则表达式的记录；含大写字母时区分大小写。按 Enter 重新查询。");

} // namespace

// The line's label: its text is the whole line; where it does not fit, the
// part saying what is listed is cut at its end, so that the status (the
// count) after it stays whole, and the whole line is the tool tip.
class ListingLine : public QLabel
{
public:
    explicit ListingLine(QWidget* parent)
        : QLabel(parent)
    {
    }

    void setParts(const QString& head, const QString& tail)
    {
        m_head = head;
        m_tail = tail;
        setText(head.isEmpty() || tail.isEmpty() ? head + tail : head + kSeparator + tail);
        setToolTip(fits() ? QString() : text());
    }

    QSize minimumSizeHint() const override { return QSize(1, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shownText(area.width()));
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        setToolTip(fits() ? QString() : text());
    }

private:
    bool fits() const { return fontMetrics().horizontalAdvance(text()) <= contentsRect().width(); }

    QString shownText(int width) const
    {
        const QFontMetrics metrics = fontMetrics();
        if (metrics.horizontalAdvance(text()) <= width)
            return text();
        if (m_head.isEmpty() || m_tail.isEmpty())
            return metrics.elidedText(text(), Qt::ElideRight, width);
        const QString tail = kSeparator + m_tail;
        const int room = width - metrics.horizontalAdvance(tail);
        if (room < metrics.horizontalAdvance(QStringLiteral("……")))
            return metrics.elidedText(m_tail, Qt::ElideRight, width);
        return metrics.elidedText(m_head, Qt::ElideRight, room) + tail;
    }

    QString m_head;
    QString m_tail;
};

ListingBar::ListingBar(const QString& settingsFile, QWidget* parent)
    : QWidget(parent)
    , m_line(new ListingLine(this))
    , m_filter(new QLineEdit(this))
    , m_regex(new QToolButton(this))
    , m_saved(new QToolButton(this))
    , m_newestFirst(new QCheckBox(QStringLiteral("最新在前"), this))
    , m_more(new QToolButton(this))
{
    setObjectName(QStringLiteral("listingBar"));
    m_line->setObjectName(QStringLiteral("listingLabel"));
    m_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_line->setMinimumWidth(1); // a long file name is cut, not the window widened
    m_filter->setObjectName(QStringLiteral("filterEdit"));
    m_filter->setClearButtonEnabled(true);
    m_saved->setObjectName(QStringLiteral("savedFiltersButton"));
    m_saved->setText(QStringLiteral("筛选方案"));
    m_saved->setToolTip(QStringLiteral("保存当前的记录类型和筛选文字，或用一个保存过的方案查询"));
    m_saved->setMenu(new QMenu(m_saved));
    m_saved->setPopupMode(QToolButton::InstantPopup);
    m_regex->setObjectName(QStringLiteral("regexToggle"));
    m_regex->setText(QStringLiteral(".*"));
    m_regex->setCheckable(true);
    m_regex->setToolTip(QStringLiteral("按正则表达式筛选（不按下时按原文查找）"));
    m_newestFirst->setObjectName(QStringLiteral("newestFirstBox"));
    m_newestFirst->setChecked(QSettings(settingsFile, QSettings::IniFormat).value(kNewestFirstKey, false).toBool());
    m_more->setObjectName(QStringLiteral("moreButton"));
    m_more->setText(QStringLiteral("更多"));
    m_more->setToolTip(QStringLiteral("转到时间、记录详情、导出为 CSV、打印、导出为 PDF"));
    m_more->setMenu(new QMenu(m_more));
    m_more->setPopupMode(QToolButton::InstantPopup);
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
    row->addWidget(m_saved);
    row->addWidget(m_newestFirst);
    row->addWidget(m_more);

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

QString ListingBar::filter() const
{
    return m_filter->text();
}

void ListingBar::setFilter(const QString& text, bool regex)
{
    // The caller lists with it; the switch alone asks for no listing here.
    const QSignalBlocker quiet(m_regex);
    m_regex->setChecked(regex);
    m_filter->setText(text);
    checkFilter();
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

QMenu* ListingBar::savedFiltersMenu() const
{
    return m_saved->menu();
}

QMenu* ListingBar::actionsMenu() const
{
    return m_more->menu();
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
    m_what = parts.join(kSeparator);
    m_status = status;
    showText();
}

void ListingBar::showFile(const QString& file)
{
    m_what = file;
    m_status.clear();
    m_note.clear();
    showText();
}

void ListingBar::showNote(const QString& note)
{
    m_note = note;
    showText();
}

void ListingBar::showText()
{
    QStringList tail;
    if (!m_status.isEmpty())
        tail << m_status;
    if (!m_note.isEmpty())
        tail << m_note;
    m_line->setParts(m_what, tail.join(kSeparator));
}

QString ListingBar::line() const
{
    return m_line->text();
}
