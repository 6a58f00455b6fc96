#pragma once

#include <QDateTime>
#include <QDialog>

class QDateTimeEdit;

// Ctrl+G: asks for a time within the listed period; the window then has the
// pane show the first record stamped at or after it.
class GoToTimeDialog : public QDialog
{
    Q_OBJECT

public:
    // The editor takes only times from `first` to `last`, and starts at
    // `initial` (brought into that period).
    GoToTimeDialog(const QDateTime& first, const QDateTime& last, const QDateTime& initial, QWidget* parent = nullptr);

    QDateTime time() const;

private:
    QDateTimeEdit* m_edit;
};
