#pragma once

#include <QObject>
#include <QString>
#include <QVector>

class QDateTimeEdit;
class QEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;

// Typing into a date-time field of the range page (起始时间, 结束时间): the
// field keeps exactly what is typed, or refuses a key and says why at the
// field; it never changes a typed time behind the operator's back.
//
// QDateTimeEdit alone does, in three ways an operator meets at once:
// - A section whose digits are complete moves on to the next by itself; the
//   separator typed after it ("13" then ":") then counts as "next section"
//   once more and skips one, so that 13:30:00 becomes 13:59:30. It moves on
//   after one digit, too, where no second digit could follow ("3" of a
//   February day, "6" of a minute): the "0" of "30" then lands in the hour.
// - Over a selection of more than one section (the whole field selected),
//   digits are refused without a word.
// - A field left incomplete (a three-digit year, an emptied section) goes
//   back to its last complete value when the focus leaves it.
// Here a separator right after the field moved on by itself is taken as
// already typed, and a digit right after it moved on from one digit is
// refused as the second digit of that field ("2 月只有 28 天"); any
// separator ("/", "-", ":", " ", 年…) moves on from a section otherwise; digits over several sections start in the first of
// them; a refused key, and a field put back when the focus left it, are
// said beside the field (and in a tip at it) until the operator enters the
// field again, and the next query waits once, so that it never runs with a
// time the operator has not seen (isReady()).
//
// The field must show only numeric sections with one separator between
// two, as the window's "yyyy/M/d HH:mm:ss" does.
class DateTimeTyping : public QObject
{
    Q_OBJECT

public:
    // Watches `editor` (and is owned by it); `name` names it in reasons,
    // which `hint` shows.
    DateTimeTyping(QDateTimeEdit* editor, const QString& name, QLabel* hint);

    // True when the field holds a complete date-time the operator has seen;
    // otherwise the reason is shown at the field, which takes the focus.
    bool isReady();
    // The last reason said at the field; empty while there is none.
    QString reason() const { return m_reason; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Field
    {
        int start;
        int length;
    };

    bool typeKey(QKeyEvent* key);
    bool typeSeparator(int field);
    void typeDigit(QKeyEvent* key, int field);
    bool leave(QEvent* focusOut);
    void selectField(int field);
    QVector<Field> fields() const;
    int fieldAt(int position) const;
    QString refusal(const QString& typed, int field) const;
    void say(const QString& reason);
    void forget();

    QDateTimeEdit* m_editor;
    QLineEdit* m_line;
    QString m_name;
    QLabel* m_hint;
    QString m_reason;
    bool m_unseen = false; // said since the last query asked; the query waits once
    int m_movedOnFrom = -1; // the field the last key left after one digit
    QString m_movedOnDigits; // and that digit
};
