#pragma once

#include <QStringList>

// Each takes the arguments after its command name and returns the exit status.
int runQuery(const QStringList& arguments);
int runExport(const QStringList& arguments);
int runFollow(const QStringList& arguments);
int runWrite(const QStringList& arguments);
int runStats(const QStringList& arguments);
int runReport(const QStringList& arguments);
int runForward(const QStringList& arguments);
int runVacuum(const QStringList& arguments);
int runStore(const QStringList& arguments);
