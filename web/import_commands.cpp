// The undo of an import, posted from its report page: one call of the store's
// gate, which removes only the owner's cards. Runs on a connection's thread
// with StoreLock held, after the cross-site check every post gets.
#include <string>

#include "service/vcard_main.h"
#include "web/import_report.h"

namespace pelorin {

void TPelorinService::UndoImportRow(ResponseInfo& res, const std::string& owner) {
  const auto found = ImportReports.find(owner);
  // Nothing to take back (no import since the start, or undone already): the
  // report says so.
  if (found == ImportReports.end() || found->second.Undone) return res.RedirectTo(kImportedPage);
  // Cards of the import deleted since are simply gone; the rest go now,
  // edited or not, as they still carry the IDs the import gave them.
  const TRecordOutcome removed = XMLDom.DeleteCards(AddedIds(found->second), owner);
  if (!removed) {
    const std::string message = "Error undoing the import" + (removed.Message.empty() ? "" : ": " + removed.Message);
    WriteLog(message);
    res.Body = message;
    return res.SetStatus(500);
  }
  found->second.Undone = true;
  if (removed.Changed > 0) SaveTimer.SetEnabled(true);
  res.RedirectTo(kImportedPage);
}

}  // namespace pelorin
