#pragma once

#include <QString>

// A record type as vxlog takes it on its command line: a number (any int, as
// a program may log any), a caption ("报警记录"), or its English name
// ("alarm", in any case).
bool typeArgument(const QString& text, int& type);

// The five types with their numbers, captions and names, for help and errors.
QString typeArgumentList();
