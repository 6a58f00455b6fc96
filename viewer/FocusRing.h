#pragma once

#include <QPointer>
#include <QWidget>

// A frame in the palette's highlight colour around the control that has the
// keyboard focus, so that the keyboard's place shows whatever the style
// draws. It is drawn over the window's controls, never takes a mouse click
// and follows the focus through the window; the result pane, which shows a
// caret of its own, gets none.
class FocusRing : public QWidget
{
    Q_OBJECT

public:
    FocusRing(QWidget* window, QWidget* without);

    QWidget* widget() const { return m_target; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void follow(QWidget* now);
    void place();

    QWidget* m_without;
    QPointer<QWidget> m_target;
};
