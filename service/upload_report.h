// What one vCard upload did, card by card: which cards came in under which
// IDs, which were refused and why, and what the reader changed on the way
// in. The store's upload fills it; the service keeps the last one of each
// user in memory for the report page and its undo (a restart forgets it,
// and the cards stay as they are).
#ifndef PELORIN_SERVICE_UPLOAD_REPORT_H_
#define PELORIN_SERVICE_UPLOAD_REPORT_H_

#include <cstddef>
#include <string>
#include <vector>

namespace pelorin {

struct TUploadedCard {
  std::size_t Number = 0;  // the card's place in the file, counted from 1
  std::string Name;        // its FN as text; empty when it has none
  std::string Id;          // the ID it was given (added cards)
  std::string Reason;      // why it was refused (refused cards)
  std::vector<std::string> Notes;  // what was changed on the way in
};

struct TUploadReport {
  std::size_t Cards = 0;  // every card the file held
  std::vector<TUploadedCard> Added;
  std::vector<TUploadedCard> Refused;
  bool Undone = false;  // its cards have been removed again
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_UPLOAD_REPORT_H_
