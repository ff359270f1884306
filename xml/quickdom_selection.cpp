// TQuickDom: a document made of some records of another one, for a page that
// shows only those.
#include <libxml/tree.h>

#include <new>

#include "xml/quickdom_impl.h"

namespace pelorin {

void TQuickDom::LoadSelection(const TQuickDom& source, const std::vector<TNodeRef>& records) {
  impl_->doc.reset();
  impl_->current = nullptr;
  impl_->declaration.clear();
  impl_->encoding = TStoreEncoding::kUtf8;
  impl_->encoding_name = "UTF-8";
  impl_->Touch();
  const xmlDoc* from = source.impl_->doc.get();
  const xmlNode* from_root = from == nullptr ? nullptr : xmlDocGetRootElement(from);
  if (from_root == nullptr) return;
  XmlPtr<xmlDoc> doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
  if (!doc) throw std::bad_alloc();
  // The document element with its attributes and namespaces, not its children.
  xmlNode* root = xmlDocCopyNode(const_cast<xmlNode*>(from_root), doc.get(), 2);
  if (root == nullptr) throw std::bad_alloc();
  xmlDocSetRootElement(doc.get(), root);  // no old root to hand back
  for (const TNodeRef record : records) {
    xmlNode* copy = xmlDocCopyNode(static_cast<xmlNode*>(record.get()), doc.get(), 1);
    if (copy == nullptr) throw std::bad_alloc();
    // An element is never merged away, so the copy stays valid once adopted.
    if (xmlAddChild(root, copy) == nullptr) {
      xmlFreeNode(copy);
      throw std::bad_alloc();
    }
  }
  impl_->doc = std::move(doc);
}

void TQuickDom::Clear() noexcept {
  impl_->doc.reset();
  impl_->current = nullptr;
  impl_->Touch();
}

}  // namespace pelorin
