#include "GoToTimeDialog.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

GoToTimeDialog::GoToTimeDialog(const QDateTime& first, const QDateTime& last, const QDateTime& initial, QWidget* parent)
    : QDialog(parent)
    , m_edit(new QDateTimeEdit(this))
{
    setObjectName(QStringLiteral("goToTimeDialog"));
    setWindowTitle(QStringLiteral("转到时间"));
    const QString shown = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    auto* label = new QLabel(QStringLiteral("转到这个时间或之后的第一条记录\n（%1 至 %2）：")
                                 .arg(first.toString(shown), last.toString(shown)),
                             this);
    m_edit->setObjectName(QStringLiteral("goToTimeEdit"));
    m_edit->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    m_edit->setDisplayFormat(shown);
    m_edit->setCalendarPopup(true);
    m_edit->setDateTimeRange(first, last);
    m_edit->setDateTime(std::clamp(initial.isValid() ? initial : first, first, std::max(first, last)));
    m_edit->setCurrentSection(QDateTimeEdit::HourSection);
    label->setBuddy(m_edit);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("转到"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
}

QDateTime GoToTimeDialog::time() const
{
    return m_edit->dateTime();
}
