// The vCard versions the writer can write.
#ifndef PELORIN_VCARD_VCARD_VERSION_H_
#define PELORIN_VCARD_VCARD_VERSION_H_

namespace pelorin {

// k30: RFC 2426; k40: RFC 6350 (with RFC 6868 parameter values).
enum class TvCardVersion { k30, k40 };

}  // namespace pelorin

#endif  // PELORIN_VCARD_VCARD_VERSION_H_
