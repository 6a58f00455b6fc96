#include "DateTimeTyping.h"

#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolTip>

namespace {

const QString kExample = QStringLiteral("年/月/日 时:分:秒，例如 2026/12/9 13:30:00");

// What an operator types between two sections: ASCII or full-width
// punctuation, a blank, or the Chinese unit after a number.
bool isSeparator(QChar c)
{
    if (c.isDigit())
        return false;
    return c.isPunct() || c.isSpace() || c.isSymbol() || QStringLiteral("年月日时分秒点").contains(c);
}

bool isNumberSeparator(QChar c)
{
    return !c.isDigit();
}

} // namespace

DateTimeTyping::DateTimeTyping(QDateTimeEdit* editor, const QString& name, QLabel* hint)
    : QObject(editor)
    , m_editor(editor)
    , m_line(editor->findChild<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly))
    , m_name(name)
    , m_hint(hint)
{
    setObjectName(QStringLiteral("dateTimeTyping"));
    editor->installEventFilter(this);
    // Set by the window (the range page starting at another day) or the
    // calendar: a new entry, and what was said of the old one is gone.
    connect(editor, &QDateTimeEdit::dateTimeChanged, this, [this] {
        if (!m_editor->hasFocus())
            forget();
    });
}

bool DateTimeTyping::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_editor || !m_line)
        return false;
    if (event->type() == QEvent::FocusOut)
        return leave(event);
    // The operator comes to the field for a new entry (not sent back to it
    // by isReady()).
    if (event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::MouseFocusReason
            || reason == Qt::ShortcutFocusReason)
            forget();
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers typing = Qt::ShiftModifier | Qt::KeypadModifier;
    if (key->text().size() != 1 || !key->text().at(0).isPrint() || (key->modifiers() & ~typing))
        return false; // moving, deleting, stepping, shortcuts: as the editor does them
    return typeKey(key);
}

bool DateTimeTyping::typeKey(QKeyEvent* key)
{
    const QChar typed = key->text().at(0);
    int field = fieldAt(m_line->hasSelectedText() ? m_line->selectionStart() : m_line->cursorPosition());
    const int movedOnFrom = m_movedOnFrom;
    m_movedOnFrom = -1;
    if (field < 0)
        return false;
    if (typed.isDigit() && movedOnFrom >= 0 && movedOnFrom == field - 1) {
        say(refusal(m_movedOnDigits + typed, movedOnFrom));
        return true;
    }
    if (typed.isDigit()) {
        typeDigit(key, field);
        return true;
    }
    if (isSeparator(typed))
        return typeSeparator(field);
    say(QStringLiteral("%1里不能输入“%2”：只能输入数字（%3）").arg(m_name, typed, kExample));
    return true;
}

// A separator right after the field moved on by itself (its digits were
// complete) is the one the operator meant: it is taken as typed already.
// Elsewhere it moves on to the next field.
bool DateTimeTyping::typeSeparator(int field)
{
    const QVector<Field> all = fields();
    const Field& at = all.at(field);
    const QString text = m_line->text();
    const bool whole = m_line->selectedText() == text.mid(at.start, at.length) && at.length > 0;
    const bool emptyAtStart = at.length == 0 && m_line->cursorPosition() == at.start && !m_line->hasSelectedText();
    if (field > 0 && (whole || emptyAtStart))
        return true;
    if (field + 1 >= all.size()) {
        say(QStringLiteral("%1：秒已是最后一部分（%2）").arg(m_name, kExample));
        return true;
    }
    selectField(field + 1);
    return true;
}

// Digits over several fields start in the first; a digit the editor does
// not take is said with the field's limits.
void DateTimeTyping::typeDigit(QKeyEvent* key, int field)
{
    const QVector<Field> all = fields();
    const Field& at = all.at(field);
    if (m_line->hasSelectedText() && m_line->selectionStart() + m_line->selectedText().size() > at.start + at.length)
        selectField(field);
    const QString before = m_line->text();
    const int cursor = m_line->cursorPosition();
    const QString selected = m_line->selectedText();
    const int selectionStart = m_line->hasSelectedText() ? m_line->selectionStart() : cursor;
    // The field's digits as the key makes them, whether the editor took it.
    QString candidate = before.mid(at.start, at.length);
    const int offset = qBound(0, selectionStart - at.start, candidate.size());
    candidate.replace(offset, qMin(selected.size(), candidate.size() - offset), key->text());
    static_cast<QObject*>(m_editor)->event(key);
    if (m_line->text() != before || m_line->cursorPosition() != cursor || m_line->selectedText() != selected) {
        const int now = fieldAt(m_line->hasSelectedText() ? m_line->selectionStart() : m_line->cursorPosition());
        const int full = m_editor->sectionAt(field) == QDateTimeEdit::YearSection ? 4 : 2;
        if (now == field + 1 && candidate.size() < full) {
            m_movedOnFrom = field;
            m_movedOnDigits = candidate;
        }
        return;
    }
    say(refusal(candidate, field));
}

QString DateTimeTyping::refusal(const QString& typed, int field) const
{
    QString limits;
    switch (m_editor->sectionAt(field)) {
    case QDateTimeEdit::YearSection:
        limits = QStringLiteral("年份是 %1 到 %2").arg(m_editor->minimumDate().year()).arg(m_editor->maximumDate().year());
        break;
    case QDateTimeEdit::MonthSection:
        limits = QStringLiteral("月份是 1 到 12");
        break;
    case QDateTimeEdit::DaySection: {
        const QDate shown = m_editor->date();
        limits = QStringLiteral("%1 年 %2 月只有 %3 天").arg(shown.year()).arg(shown.month()).arg(shown.daysInMonth());
        break;
    }
    case QDateTimeEdit::HourSection:
        limits = QStringLiteral("小时是 0 到 23");
        break;
    case QDateTimeEdit::MinuteSection:
        limits = QStringLiteral("分钟是 0 到 59");
        break;
    case QDateTimeEdit::SecondSection:
        limits = QStringLiteral("秒是 0 到 59");
        break;
    default:
        limits = kExample;
        break;
    }
    return QStringLiteral("%1里不能输入“%2”：%3").arg(m_name, typed, limits);
}

// An incomplete field is put back to its last complete value by the editor
// when the focus leaves; that is said, and the query waits until it was seen.
bool DateTimeTyping::leave(QEvent* focusOut)
{
    if (m_editor->hasAcceptableInput())
        return false;
    const QString typed = m_line->text();
    static_cast<QObject*>(m_editor)->event(focusOut);
    if (m_line->text() == typed)
        return true;
    say(QStringLiteral("%1“%2”不是完整的日期时间（%3），已恢复为 %4")
            .arg(m_name, typed, kExample, m_line->text()));
    return true;
}

bool DateTimeTyping::isReady()
{
    if (!m_editor->hasAcceptableInput())
        say(QStringLiteral("%1“%2”不是完整的日期时间（%3）").arg(m_name, m_line->text(), kExample));
    else if (!m_unseen)
        return true;
    else
        say(m_reason);
    m_unseen = false;
    m_editor->setFocus(Qt::OtherFocusReason);
    return false;
}

void DateTimeTyping::selectField(int field)
{
    m_editor->setSelectedSection(m_editor->sectionAt(field));
}

// The fields of the text, empty ones included: the runs between two
// separators.
QVector<DateTimeTyping::Field> DateTimeTyping::fields() const
{
    QVector<Field> found;
    const QString text = m_line->text();
    int start = 0;
    for (int i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isNumberSeparator(text.at(i))) {
            found.append({start, i - start});
            start = i + 1;
        }
    }
    return found.size() == m_editor->sectionCount() ? found : QVector<Field>();
}

int DateTimeTyping::fieldAt(int position) const
{
    const QVector<Field> all = fields();
    for (int i = 0; i < all.size(); ++i) {
        if (position >= all.at(i).start && position <= all.at(i).start + all.at(i).length)
            return i;
    }
    return -1;
}

void DateTimeTyping::say(const QString& reason)
{
    m_reason = reason;
    m_unseen = true;
    m_hint->setText(reason);
    m_hint->setToolTip(reason);
    QToolTip::showText(m_editor->mapToGlobal(QPoint(0, m_editor->height())), reason, m_editor);
}

void DateTimeTyping::forget()
{
    m_reason.clear();
    m_unseen = false;
    m_hint->clear();
    m_hint->setToolTip(QString());
}
