#pragma once

#include <QPointer>
#include <QWidget>

// A frame in the palette's highlight colour around the control that has the
// keyboard focus, so that the keyboard's place shows whatever the style
// draws. It is drawn over the window's controls, never takes a mouse click
// and follows the focus through the window, the result pane included
// (its caret alone does not say that the keys go to it).
class FocusRing : public QWidget
{
    Q_OBJECT

public:
    explicit FocusRing(QWidget* window);

    QWidget* widget() const { return m_target; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void follow(QWidget* now);
    void place();

    QPointer<QWidget> m_target;
};
