#include "PaneFindBar.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <vxSyslog/ListingBlock.h>

PaneFindBar::PaneFindBar(QWidget* parent)
    : QWidget(parent)
    , m_edit(new QLineEdit(this))
    , m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("findBar"));
    setAutoFillBackground(true);
    m_edit->setObjectName(QStringLiteral("findText"));
    m_status->setObjectName(QStringLiteral("findStatus"));
    m_edit->setPlaceholderText(QStringLiteral("查找内容"));
    m_edit->setClearButtonEnabled(true);

    auto* previous = new QToolButton(this);
    previous->setObjectName(QStringLiteral("findPrevious"));
    previous->setText(QStringLiteral("上一个"));
    auto* next = new QToolButton(this);
    next->setObjectName(QStringLiteral("findNext"));
    next->setText(QStringLiteral("下一个"));
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("findClose"));
    close->setText(QStringLiteral("关闭"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(new QLabel(QStringLiteral("查找："), this));
    row->addWidget(m_edit, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(m_status);
    row->addWidget(close);

    // The line edit takes Return itself, with or without Shift.
    connect(m_edit, &QLineEdit::returnPressed, this,
            [this] { request(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier); });
    connect(m_edit, &QLineEdit::textEdited, this, [this] { m_status->clear(); });
    connect(previous, &QToolButton::clicked, this, [this] { request(true); });
    connect(next, &QToolButton::clicked, this, [this] { request(false); });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        emit closed();
    });
}

QString PaneFindBar::text() const
{
    return m_edit->text();
}

void PaneFindBar::open()
{
    show();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void PaneFindBar::showFound(bool found)
{
    m_status->setText(found ? QString() : QStringLiteral("未找到"));
}

void PaneFindBar::showStanding(qint64 index, qint64 total)
{
    m_status->setText(QStringLiteral("第 %1 / %2 处").arg(SystemLog::groupedCount(index), SystemLog::groupedCount(total)));
}

void PaneFindBar::showCounting(qint64 index, qint64 soFar)
{
    QString text = soFar > 0 ? QStringLiteral("正在统计…已数到 %1 处").arg(SystemLog::groupedCount(soFar))
                             : QStringLiteral("正在统计共有几处…");
    if (index > 0)
        text = QStringLiteral("第 %1 处 · %2").arg(SystemLog::groupedCount(index), text);
    m_status->setText(text);
}

void PaneFindBar::showSearching()
{
    m_status->setText(QStringLiteral("正在查找…"));
}

void PaneFindBar::showError(const QString& reason)
{
    m_status->setText(QStringLiteral("查找失败：%1").arg(reason));
}

QString PaneFindBar::statusText() const
{
    return m_status->text();
}

void PaneFindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        emit closed();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PaneFindBar::request(bool backward)
{
    if (!m_edit->text().isEmpty())
        emit findRequested(m_edit->text(), backward);
}
