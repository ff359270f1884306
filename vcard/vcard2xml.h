// TvCard2XML cuts the next card out of vCard text and converts it into the
// XML of one `vCard` record (UTF-8, always well-formed). One object serves
// one thread; it may convert any number of cards.
#ifndef PELORIN_VCARD_VCARD2XML_H_
#define PELORIN_VCARD_VCARD2XML_H_

#include <deque>
#include <string>
#include <vector>

#include "vcard/charset.h"
#include "vcard/upload_text.h"

namespace pelorin {

class TvCard2XML {
 public:
  TvCard2XML();
  ~TvCard2XML();
  TvCard2XML(const TvCard2XML&) = delete;
  TvCard2XML& operator=(const TvCard2XML&) = delete;

  // Cuts the next card from the front of `lines` and returns its record XML.
  // The card starts at the first line that reads BEGIN:VCARD (blanks around
  // it, any case, a UTF-8 byte-order mark in front) and ends at its own
  // END:VCARD, or at the last line. A card nested inside it is cut out and
  // comes back, as a card of its own, from the next calls. The lines before
  // the card and the card's own lines are removed; without a card start the
  // list is emptied and the result is empty.
  std::string ConvertNextCard(std::vector<std::string>& lines);
  // The same over the lines a cursor has not yet handed out.
  std::string ConvertNextCard(TLineCursor& cursor);

  // Whether a nested card cut out of an earlier one still waits to be read.
  bool HasNestedCard() const { return !nested_.empty(); }

  // Converts CardLines into "<vCard>" ... "</vCard>".
  std::string ConvertCard();

  // The non-empty lines of the card being converted, from its start line on.
  std::vector<std::string> CardLines;

  // What the last conversion learnt of its card, for the import report: the
  // card's FN as text (empty when it has none), and one sentence for each
  // kind of change made on the way in that the person who exported the file
  // could not see coming (a character set converted, bytes that were not
  // UTF-8, quoted-printable decoded, binary data put into one shape, a
  // nested card taken out), each once, in the order they were first met.
  std::string CardName;
  std::vector<std::string> Notes;

 private:
  // Moves the first nested card still waiting into CardLines.
  bool TakeNestedCard();
  // ConvertCard, noting that the card came out of another.
  std::string ConvertNestedCard();
  void Note(std::string text);

  TCharsetConverter charsets_;
  std::deque<std::vector<std::string>> nested_;
};

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD2XML_H_
