// The PARAM elements of a record (in PARAMS and in PROP) as content line
// parameters.
#ifndef PELORIN_VCARD_RECORD_PARAMS_H_
#define PELORIN_VCARD_RECORD_PARAMS_H_

#include "vcard/content_line.h"
#include "vcard/vcard_record.h"

namespace pelorin {

// PARAM: NAME and one VALUE per value, in order.
TContentParam ParamOfElement(const TRecordElement& param);

// Adds what a PARAMS element says to a line: its GROUP and, after the
// parameters the line already has, one parameter per PARAM.
void MergeParams(TContentLine& line, const TRecordElement& params);

}  // namespace pelorin

#endif  // PELORIN_VCARD_RECORD_PARAMS_H_
