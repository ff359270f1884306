// RawParams and FormFields of a request: the body joined with the query text,
// then split at "&" and URL-decoded piece by piece. Pure functions, any thread.
#ifndef PELORIN_WEB_FORM_FIELDS_H_
#define PELORIN_WEB_FORM_FIELDS_H_

#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

// The body; with a non-empty query, the query alone for an empty body, otherwise
// body, CR LF, query.
std::string JoinRawParams(std::string_view body, std::string_view query);

// "+" becomes a space, then "%XY" becomes the byte 0xXY when that is 1 to 255; a pair
// that is not hexadecimal or gives 0 is dropped with its "%". Everything else, a "%"
// without two following characters included, is copied.
std::string DecodeFormPiece(std::string_view piece);

// One decoded entry per "&"-separated piece (an empty piece gives an empty entry),
// split before decoding so an encoded "&" stays inside its value. Empty text gives
// no entries at all.
std::vector<std::string> SplitFormFields(std::string_view raw_params);

}  // namespace pelorin

#endif  // PELORIN_WEB_FORM_FIELDS_H_
