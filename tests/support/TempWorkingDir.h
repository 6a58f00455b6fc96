#pragma once

// A fresh temporary folder that is the working directory for the object's
// lifetime (the product keeps ./dbLog.db and ./Quarrow.ini in the working
// directory); the previous one is restored and the folder removed afterwards.

#include <QDir>
#include <QString>
#include <QTemporaryDir>

class TempWorkingDir
{
public:
    TempWorkingDir()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~TempWorkingDir() { QDir::setCurrent(m_previous); }
    TempWorkingDir(const TempWorkingDir&) = delete;
    TempWorkingDir& operator=(const TempWorkingDir&) = delete;

    bool isValid() const { return m_dir.isValid() && QDir::currentPath() == path(); }
    QString path() const { return QDir(m_dir.path()).canonicalPath(); }
    QString filePath(const QString& name) const { return path() + QLatin1Char('/') + name; }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};
