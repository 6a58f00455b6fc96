#pragma once

#include <QString>
#include <QtGlobal>

// A size as the journal tool takes it: a number of bytes with an optional
// unit K, M, G or T (powers of 1024; "KB", "KiB" and lower case too), e.g.
// "500M". Returns -1 when `text` is not one.
qint64 sizeArgument(const QString& text);

// "18.67 MiB（19574784 字节）", or "512 字节" under a KiB.
QString sizeText(qint64 bytes);
