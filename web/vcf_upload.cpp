// The vCard upload step of the record commands: every card of the posted text is
// converted and inserted like a posted record. Runs on a connection's thread with
// StoreLock held.
#include <string>

#include "service/vcard_main.h"
#include "vcard/vcard_upload_reader.h"

namespace pelorin {

// One reader walks the text once, so an upload costs time in proportion to its
// size; with the ID index each insert costs the same however large the store is.
void TPelorinService::UploadVcf(const RequestInfo& req, TQuickDom& store, const std::string& owner,
                                std::string& xml) {
  TvCardUploadReader reader(req.RawParams);
  while (reader.NextPass(xml)) {
    if (xml.empty()) continue;  // no card start was left in the text
    if (UploadCardSeam) UploadCardSeam(xml);
    std::string ignored;
    InsertRecord(store, xml, owner, ignored);
  }
}

}  // namespace pelorin
