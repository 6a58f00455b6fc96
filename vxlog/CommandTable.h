#pragma once

#include <QString>
#include <QStringList>

// The commands of vxlog, in the order the help lists them. A new command is
// one entry here (and its run function in Commands.h).
struct Command
{
    const char* name;
    int (*run)(const QStringList& argumentsAfterCommand);
    const char* summary;  // one line for the general help
    const char* example;  // one command line, shown in both helps
};

const Command* commandsBegin();
const Command* commandsEnd();

// The command called `name`, or nullptr.
const Command* findCommand(const QString& name);
