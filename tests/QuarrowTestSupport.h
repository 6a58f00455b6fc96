#pragma once

// Shared by the viewer's tests: a private working folder (the tool keeps
// ./dbLog.db and ./Quarrow.ini in the working directory), seeding rows with
// chosen time stamps through a connection of the test's own, driving the
// modal dialogs the window opens, and counting signal connections.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "Quarrow.h"

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

// Makes a fresh temporary folder the working directory for its lifetime.
class WorkDir
{
public:
    WorkDir()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~WorkDir() { QDir::setCurrent(m_previous); }

    bool isValid() const { return m_dir.isValid() && QDir::currentPath() == QDir(m_dir.path()).canonicalPath(); }
    QString path() const { return QDir(m_dir.path()).canonicalPath(); }
    QString filePath(const QString& name) const { return path() + QLatin1Char('/') + name; }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

struct Row
{
    QString datetime;
    int type;
    QString message;
};

// Runs statements on ./dbLog.db through a connection separate from the
// service's one. The table itself is the service's: create the window first.
inline bool runOnLogDatabase(const std::function<bool(QSqlDatabase&)>& work)
{
    const QString name = QStringLiteral("quarrow-test-seed");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QDir::current().absoluteFilePath(QStringLiteral("dbLog.db")));
        ok = db.open() && work(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

inline bool seedRows(const QList<Row>& rows)
{
    return runOnLogDatabase([&rows](QSqlDatabase& db) {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)")))
            return false;
        for (const Row& row : rows) {
            query.addBindValue(row.datetime);
            query.addBindValue(row.type);
            query.addBindValue(row.message);
            if (!query.exec())
                return false;
        }
        return true;
    });
}

// Makes every following query of the service fail ("no such table").
inline bool dropRecordTable()
{
    return runOnLogDatabase([](QSqlDatabase& db) {
        QSqlQuery query(db);
        return query.exec(QStringLiteral("DROP TABLE SystemInfo"));
    });
}

// A working folder with a viewer window in it; the window (and with it the
// log service) goes before the folder.
struct Viewer
{
    WorkDir dir;
    std::unique_ptr<Quarrow> window{new Quarrow};

    template <typename T>
    T* widget(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
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
// line. A dialog nobody expected is recorded and rejected, so a test fails on
// the count instead of hanging.
class ModalDriver : public QObject
{
public:
    using Handler = std::function<void(QWidget*)>;

    ModalDriver()
    {
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(0);
    }

    void then(Handler handler) { m_handlers.append(std::move(handler)); }

    const QList<SeenModal>& seen() const { return m_seen; }
    int unexpected() const { return m_unexpected; }

private:
    bool handledAlready(QWidget* w) const
    {
        for (const QPointer<QWidget>& p : m_handled)
            if (p == w)
                return true;
        return false;
    }

    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || handledAlready(modal))
            return;
        m_handled.append(modal);
        m_seen.append({QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle(),
                       modal->property("text").toString(), modal->parentWidget()});
        if (m_handlers.isEmpty()) {
            ++m_unexpected;
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        m_handlers.takeFirst()(modal);
    }

    QTimer m_timer;
    QList<Handler> m_handlers;
    QList<QPointer<QWidget>> m_handled;
    QList<SeenModal> m_seen;
    int m_unexpected = 0;
};

// Counts the connections of one of `sender`'s signals. QObject::receivers()
// is protected; naming it through a derived class gives a member pointer
// that works on any QObject.
struct ConnectionCounter : QObject
{
    static int count(const QObject* sender, const char* signal)
    {
        return (sender->*(&ConnectionCounter::receivers))(signal);
    }
};

inline QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace QuarrowTest
