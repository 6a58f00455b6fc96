#pragma once

// Shared by the viewer's tests: a window in a private working folder (the tool
// keeps ./dbLog.db and ./Quarrow.ini there), rows seeded with chosen time
// stamps, the buttons pressed as an operator would, and the modal dialogs the
// window opens answered from a zero-delay timer.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "Quarrow.h"
#include "ResultPane.h"
#include "TempWorkingDir.h"
#include "TestDatabase.h"
#include "TypeChooser.h"

// Under ThreadSanitizer (read only there): Qt 5 is not instrumented and its
// threads (the image conversion pool behind QIcon, the file dialog's info
// gatherer) hand memory over under futex-based locks the tool cannot see.
// Calls into intercepted functions made from Qt's own code are therefore not
// checked; every access compiled here, the log service included, still is.
// TSAN_OPTIONS from the environment is applied on top of this.
extern "C" __attribute__((visibility("default"), used)) inline const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}

namespace QuarrowTest {

const QDate kDay(2024, 5, 1);
// How long a query of the few rows a test seeds may take, sanitizers included.
const int kQueryTimeoutMs = 30000;

struct Row
{
    QString datetime;
    int type;
    QString message;
};

// The pane's text for these rows: "%1:\n%2" blocks, one paragraph each.
inline QString blocks(const QList<Row>& rows)
{
    QStringList parts;
    for (const Row& row : rows)
        parts << row.datetime + QStringLiteral(":\n") + row.message;
    return parts.join(QLatin1Char('\n'));
}

// A log file (the writer's table) holding these rows, ids from 1 in order.
inline bool makeLog(const QString& path, const QList<Row>& rows)
{
    TestDatabase db(path);
    bool ok = db.createLogTable();
    for (const Row& row : rows)
        ok = ok && db.insertRow(row.datetime, row.type, row.message);
    return ok;
}

// The record types' captions, in code order, then 全部类型, as both lists show them.
inline QString caption(int code)
{
    const char* captions[] = {"参数修改记录", "用户使用记录", "系统状态记录", "报警记录", "其他信息", "全部类型"};
    return QString::fromUtf8(captions[code]);
}

inline QByteArray fileBytes(const QString& path) // null if it cannot be read
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QDateTime at(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// A working folder with a viewer window in it; the window (and with it the
// log service) goes before the folder.
struct Viewer
{
    TempWorkingDir dir;
    std::unique_ptr<Quarrow> window{new Quarrow};

    template <typename T = QWidget>
    T* widget(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    ResultPane* pane() const { return widget<ResultPane>("textEdit"); }
    void click(const char* button) const { QTest::mouseClick(widget<QAbstractButton>(button), Qt::LeftButton); }

    // Through a connection of the test's own; the table is the service's.
    bool seed(const QList<Row>& rows) const
    {
        TestDatabase db(dir.filePath(QStringLiteral("dbLog.db")));
        for (const Row& row : rows)
            if (!db.insertRow(row.datetime, row.type, row.message))
                return false;
        return true;
    }
    // Makes every following query of the service fail ("no such table").
    bool breakStore() const
    {
        return TestDatabase(dir.filePath(QStringLiteral("dbLog.db"))).exec(QStringLiteral("DROP TABLE SystemInfo"));
    }

    void selectDay(const QDate& day, int typeIndex) const
    {
        widget<QDateEdit>("dateEdit")->setDate(day);
        widget<QComboBox>("comboBox")->setCurrentIndex(typeIndex);
    }
    // The pane lists a query off the GUI thread: true once it has ended.
    [[nodiscard]] bool queryEnded() const
    {
        return QTest::qWaitFor([this] { return !pane()->isBusy(); }, kQueryTimeoutMs);
    }
    [[nodiscard]] bool queryDay(const QDate& day, int typeIndex) const
    {
        selectDay(day, typeIndex);
        click("pushButton");
        return queryEnded();
    }
    // The day listed for the types chosen in the 多选 menu (empty: every type).
    [[nodiscard]] bool queryDayOfTypes(const QDate& day, const QVector<int>& types) const
    {
        widget<QDateEdit>("dateEdit")->setDate(day);
        window->findChild<TypeChooser*>(QStringLiteral("typeChooser"))->setTypes(types);
        click("pushButton");
        return queryEnded();
    }
    [[nodiscard]] bool queryRange(const QDateTime& start, const QDateTime& end, int typeIndex) const
    {
        click("toolButton");
        widget<QDateTimeEdit>("m_startdateTimeEdit")->setDateTime(start);
        widget<QDateTimeEdit>("m_enddateTimeEdit")->setDateTime(end);
        widget<QComboBox>("comboBox_2")->setCurrentIndex(typeIndex);
        click("pushButton_2");
        return queryEnded();
    }
};

// What a modal dialog looked like when it came up.
struct SeenModal
{
    QString className;
    QString title;
    QString text;
    QWidget* parent;
};

// Watches for modal dialogs from a zero-delay timer while the code under test
// runs its nested event loop, and hands each new one to the next handler in
// line. A dialog nobody expected is still recorded, then rejected, so a test
// fails on the count of seen dialogs instead of hanging.
class ModalDriver : public QObject
{
public:
    using Handler = std::function<void(QWidget*)>;

    explicit ModalDriver(QList<Handler> handlers = {})
        : m_handlers(std::move(handlers))
    {
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(0);
    }

    const QList<SeenModal>& seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        // A long job's progress is no question to answer.
        if (!modal || m_handled.contains(modal) || qobject_cast<QProgressDialog*>(modal))
            return;
        m_handled.append(modal);
        m_seen.append({QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle(),
                       modal->property("text").toString(), modal->parentWidget()});
        if (m_handlers.isEmpty())
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        else
            m_handlers.takeFirst()(modal);
    }

    QTimer m_timer;
    QList<Handler> m_handlers;
    QList<QPointer<QWidget>> m_handled;
    QList<SeenModal> m_seen;
};

// Presses OK on a message box.
inline void confirmMessage(QWidget* modal)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        box->button(QMessageBox::Ok)->click();
}

// Triggers the window's action `name` (as 更多 or a key would), picks `path`
// in the file dialog it opens and confirms the message that follows; what
// was seen.
inline QList<SeenModal> saveThrough(Viewer& v, const char* action, const QString& path)
{
    ModalDriver modals({[path](QWidget* modal) {
                            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                                dialog->selectFile(path);
                                QMetaObject::invokeMethod(dialog, "accept");
                            }
                        },
                        confirmMessage});
    v.window->findChild<QAction*>(QString::fromLatin1(action))->trigger();
    return modals.seen();
}

// Presses the export button for this day of every type, picks `folder` in
// the folder dialog and confirms the outcome; the file written (null if none).
inline QByteArray exportEveryTypeOf(Viewer& v, const QDate& day, const QString& folder)
{
    QDir().mkpath(folder);
    ModalDriver modals({[folder](QWidget* modal) {
                            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                                dialog->setDirectory(folder);
                                QMetaObject::invokeMethod(dialog, "accept");
                            }
                        },
                        confirmMessage});
    v.selectDay(day, 5);
    v.click("m_pbExport");
    return fileBytes(folder + QLatin1Char('/') + day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("系统日志.txt"));
}

} // namespace QuarrowTest
