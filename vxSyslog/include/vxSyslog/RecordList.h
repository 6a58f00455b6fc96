#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace SystemLog {

// Query result: (datetime text, message text) per row, in the order the
// driver delivers them. Empty on no match and on failure; the service's
// lastQueryFailed() tells the two apart.
using RecordList = QList<QPair<QString, QString>>;

} // namespace SystemLog
