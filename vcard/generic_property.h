// Record elements that are not mapped properties: PROP, which holds any other
// property as it was written, and custom elements a user added to a record.
#ifndef PELORIN_VCARD_GENERIC_PROPERTY_H_
#define PELORIN_VCARD_GENERIC_PROPERTY_H_

#include <optional>

#include "vcard/content_line.h"
#include "vcard/vcard_record.h"

namespace pelorin {

// NAME, GROUP, every PARAM and VALUE as stored: the value keeps the escapes
// it was written with (turned into 3.0 and 4.0 escapes when the card was
// 2.1, `from_21`), only a real line break becomes \n. nullopt for a PROP
// named BEGIN, END or VERSION, which would break the card the writer frames
// itself.
std::optional<TContentLine> PropContentLine(const TRecordElement& prop, bool from_21);

// A custom leaf with text as X-PELORIN-<name>: its text escaped as text, and
// every character of the name that a property name cannot hold as "-".
// nullopt for containers, markers and empty leaves: they carry no single
// value to write.
std::optional<TContentLine> CustomContentLine(const TRecordElement& element);

}  // namespace pelorin

#endif  // PELORIN_VCARD_GENERIC_PROPERTY_H_
