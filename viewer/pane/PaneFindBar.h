#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// The small find bar at the bottom of the result pane (Ctrl+F). It only
// collects the operator's request; the pane searches its records and tells
// the bar whether anything was found (a long search: that it runs, or why it
// could not read the records). Enter finds the next match, Shift+Enter
// the previous one, Esc closes the bar.
class PaneFindBar : public QWidget
{
    Q_OBJECT

public:
    explicit PaneFindBar(QWidget* parent = nullptr);

    QString text() const;
    void open();
    void showFound(bool found);
    void showSearching();
    void showError(const QString& reason);
    // "第 k / n 处" for the match shown.
    void showStanding(qint64 index, qint64 total);
    // While the hits are still being counted: how many so far, and which
    // one is shown once the count has passed it (0: not yet).
    void showCounting(qint64 index, qint64 soFar);
    QString statusText() const;

signals:
    void findRequested(const QString& text, bool backward);
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void request(bool backward);

    QLineEdit* m_edit;
    QLabel* m_status;
};
