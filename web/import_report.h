// The import report page's data: the last upload of each user, kept by the
// service in memory (a restart forgets it; the cards stay), and the document
// the report and its undo confirmation are rendered over. Not thread-safe:
// the owner holds the store lock.
#ifndef PELORIN_WEB_IMPORT_REPORT_H_
#define PELORIN_WEB_IMPORT_REPORT_H_

#include <map>
#include <string>
#include <vector>

#include "service/record_store.h"
#include "service/upload_report.h"
#include "xml/quickdom.h"

namespace pelorin {

// The page an upload is answered with, and the command its undo posts.
inline constexpr char kImportedPage[] = "importedmsg.htm";
inline constexpr char kUndoImportCommand[] = "undoimport";

// The last upload of each owner.
using TImportReports = std::map<std::string, TUploadReport>;

// The IMPORT element the stylesheets read, every text escaped: the counts,
// then one ADDED per card that came in (NUMBER, ID, NAME, NOTE...), one
// REFUSED per card that did not (NUMBER, NAME, REASON), UNDONE when the
// import was taken back. `total` is how many cards the owner has now.
std::string ImportReportXml(const TUploadReport& report, std::size_t total);

// Makes `document` the one the report pages are rendered over: the card
// store's document element holding the cards of the owner's last import
// that still exist, then the IMPORT element (none when the owner has
// imported nothing since the service started).
void LoadImportDocument(TRecordStore& cards, const TImportReports& reports, const std::string& owner,
                        TQuickDom& document);

// The IDs of the report's added cards, for the undo.
std::vector<std::string> AddedIds(const TUploadReport& report);

}  // namespace pelorin

#endif  // PELORIN_WEB_IMPORT_REPORT_H_
