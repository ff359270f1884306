// Private state of TXmlFragment, for the document wrapper that copies it in.
#ifndef PELORIN_XML_XML_FRAGMENT_IMPL_H_
#define PELORIN_XML_XML_FRAGMENT_IMPL_H_

#include "xml/xml_fragment.h"
#include "xml/xml_ptr.h"

namespace pelorin {

struct TXmlFragment::Impl {
  XmlPtr<xmlDoc> doc;  // null until a Parse succeeds
};

}  // namespace pelorin

#endif  // PELORIN_XML_XML_FRAGMENT_IMPL_H_
