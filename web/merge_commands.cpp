// The merge of two cards, posted from its confirmation page: the merged card
// is made again here from the two cards as they are now (never taken from the
// post), and goes through the store's gate as one change, which checks that
// both are the owner's. Runs on a connection's thread with StoreLock held,
// after the cross-site check every post gets.
#include <string>

#include "service/vcard_main.h"
#include "web/card_duplicates.h"
#include "web/card_request.h"

namespace pelorin {

void TPelorinService::MergeCardsRow(RequestInfo& req, ResponseInfo& res, const std::string& owner) {
  const std::string keep_id = FieldValue(req.FormFields, "ID");
  const std::string other_id = FieldValue(req.FormFields, "OTHER");
  TRecordElement kept, other;
  TRecordOutcome merged;
  if (OwnCardPair(XMLDom, owner, keep_id, other_id, kept, other)) {
    merged = XMLDom.MergeCards(keep_id, other_id, RecordXml(MergedCard(kept, other)), owner);
  } else {
    merged.Status = TRecordOutcome::TStatus::Refused;
    merged.Message = "the cards to merge are not two cards of yours";
  }
  if (!merged) {
    const std::string message = "Error merging cards: " + merged.Message;
    WriteLog(message);
    res.Body = message;
    return res.SetStatus(merged.Status == TRecordOutcome::TStatus::Refused ? 409 : 500);
  }
  SaveTimer.SetEnabled(true);
  res.RedirectTo(IsCardId(keep_id) ? "card.htm?ID=" + keep_id : std::string("duplicates.htm"));
}

}  // namespace pelorin
