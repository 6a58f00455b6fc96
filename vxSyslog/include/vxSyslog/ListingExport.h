#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

#include <vxSyslog/DayExport.h>

// Writing the records a listing holds into a CSV file that a spreadsheet
// opens as it is, Chinese included: the viewer's "导出为 CSV" of what its
// pane lists, in the pane's order.
namespace SystemLog {

class LogSource;

namespace ListingExport {

// A listed record: its machine (the place in the source's machines) and id.
struct Key
{
    int machine = 0;
    qint64 id = 0;
};
using KeyAt = std::function<Key(int index)>;

struct Outcome
{
    DayExport::Status status = DayExport::Status::Written;
    QString reason;
    qint64 written = 0; // records in the file
};

// The `count` records keyAt(0..count-1) names, read from `source` (open) a
// batch at a time, as vxlog's csv format writes them (RFC 4180: the header
// id,datetime,[host,]type,type_name,message, CRLF line ends, a field with a
// comma, a quote or a line end quoted), the host column when
// `namesMachines`, preceded by a UTF-8 byte-order mark. The file is valid
// UTF-8: bytes of a stored text that are not become U+FFFD, as the viewer
// shows them. A record no longer stored is left out. As with the day export
// the file replaces an earlier one only once it is complete; a failed or
// cancelled export leaves that one as it was. `progress` is told the
// records written now and then and cancels by returning false.
Outcome writeCsv(const QString& path, LogSource& source, int count, const KeyAt& keyAt, bool namesMachines,
                 const DayExport::Progress& progress = DayExport::Progress());

// What the operator is told afterwards (the number of records included).
QString outcomeText(const Outcome& outcome, const QString& path);

} // namespace ListingExport
} // namespace SystemLog
