#pragma once

#include <QString>
#include <QStringList>

#include <vxSyslog/LogQuery.h>
#include <vxSyslog/SyslogFormat.h>

#include "RelpClient.h"

// What `vxlog forward` was asked to do, from its command line.
struct ForwardOptions
{
    QString databasePath;
    SystemLog::LogQuery filter;
    bool sinceGiven = false;
    QString cursorPath;                       // empty: no cursor file
    RelpClient::Settings receiver;
    QString receiverName;                     // "relp://host:port", for messages
    SystemLog::SyslogFormatter::Options format;
    bool quiet = false;                       // -q: no notices, errors only
};

// Parses the arguments after "forward" and prints its help. Returns -1 to go
// on, or the status to exit with (0 after --help, 1 when a TLS file cannot
// be read, 2 on a usage error, each reported on standard error).
int parseForwardOptions(const QStringList& arguments, ForwardOptions& options);
