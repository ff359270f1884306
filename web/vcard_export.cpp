// The user's cards as vCard 3.0 or 4.0 files, all of them or one: written by
// the vCard writer from the records, every property kept. A card without a UID
// gets one stored before it goes out, so that programs syncing it later see
// the same card again.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "service/vcard_main.h"
#include "web/card_request.h"

namespace pelorin {

std::string RevisionNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[20];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

void TPelorinService::ExportCardsRow(RequestInfo& req, ResponseInfo& res, const std::string& user,
                                     const TExportChoice& choice) {
  const std::string owner = OwnerNameOf(user);
  std::string id;
  TvCardVersion version = choice.Version;
  if (choice.SingleCard) {
    id = FieldValue(req.FormFields, "ID");
    if (FieldValue(req.FormFields, "VERSION") == "3.0") version = TvCardVersion::k30;
    if (!IsCardId(id)) {
      res.SetStatus(404);
      res.BodyType = "text/plain";
      res.Body = "No such card.";
      return;
    }
  }
  // The last download of each user is kept while the card store stands
  // still: the 4.0 texts are written for each request, not kept per card.
  const std::string download_key =
      std::string("writer\n") + (version == TvCardVersion::k30 ? "3.0" : "4.0") + "\n" + id;
  const auto kept = RenderedDownloads.find(owner);
  const bool unchanged = kept != RenderedDownloads.end() && kept->second.Key == download_key &&
                         kept->second.ChangeSequence == XMLDom.ChangeSequence();
  // The texts the DAV book keeps for each card: an export after the first
  // costs what copying the user's cards costs, and a card's bytes are the
  // same by either route.
  std::size_t added = 0;
  TDavBook& book = DavBooks.Current(XMLDom, DavSync, owner, added);
  if (added > 0) SaveTimer.SetEnabled(true);
  std::string body;
  std::size_t found = 0;
  for (TDavCard& card : book.Cards) {
    if (choice.SingleCard && card.Id != id) continue;
    ++found;
    if (unchanged) continue;  // the kept body is the same bytes
    body += version == TvCardVersion::k30 ? card.Vcard30 : TDavBooks::Vcard40Of(XMLDom, card);
  }
  if (unchanged) {
    body = kept->second.Body;
  } else if (found > 0 && body.size() <= kMaxKeptDownloadBytes) {
    RenderedDownloads[owner] = {download_key, XMLDom.ChangeSequence(), 0, body};
  } else {
    RenderedDownloads.erase(owner);
  }
  if (choice.SingleCard && found == 0) {
    res.SetStatus(404);
    res.BodyType = "text/plain";
    res.Body = "No such card.";
    return;
  }
  res.BodyType = "text/vcard; charset=utf-8";
  const std::string name = choice.SingleCard ? "card-" + id : std::string("cards");
  res.AddRawHeader("Content-Disposition: attachment; filename=\"" + name +
                   (version == TvCardVersion::k30 ? "-3.0" : "-4.0") + ".vcf\"");
  res.Body = std::move(body);
}

}  // namespace pelorin
