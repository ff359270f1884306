// Records as plain trees (TRecordElement): the one at a TQuickDom's cursor,
// or the one an XML text holds. The writer and the tests read records this
// way and never see libxml2.
#ifndef PELORIN_XML_RECORD_TREE_H_
#define PELORIN_XML_RECORD_TREE_H_

#include <optional>
#include <string_view>

#include "vcard/vcard_record.h"

namespace pelorin {

class TQuickDom;

// The cursor's element and everything below it; nullopt when the cursor is
// on no element. Names carry their prefix as CurrentName gives it. A text is
// the element's text and CDATA joined; white space alone between child
// elements is indentation and dropped; comments and processing instructions
// are left out.
std::optional<TRecordElement> RecordTreeOfCurrent(const TQuickDom& dom);

// The outer element of one record's XML text, parsed as stores and posted
// fragments are (no network, no document type declaration, so no entity
// comes from outside), indentation dropped as a store load drops it; nullopt
// when the text is not well-formed.
std::optional<TRecordElement> RecordTreeFromXml(std::string_view xml);

}  // namespace pelorin

#endif  // PELORIN_XML_RECORD_TREE_H_
