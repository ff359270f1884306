// TQuickDom: the store file format and the atomic, durable save.
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <iconv.h>

#include "xml/quickdom.h"

#include "io/durable_file.h"
#include "xml/quickdom_impl.h"
#include "xml/markup_writer.h"
#include "xml/xml_escape.h"

namespace pelorin {
namespace {

const char* Chars(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

void AppendIndent(std::string& out, size_t depth) {
  out += "\r\n";
  out.append(2 * depth, ' ');
}

bool StartsOnNewLine(const xmlNode* child) {
  switch (child->type) {
    case XML_ELEMENT_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      return true;
    case XML_TEXT_NODE:
      return child->prev != nullptr && child->prev->type == XML_COMMENT_NODE;
    default:
      return false;
  }
}

// xml:space="preserve" makes every white-space character inside the element
// data, so the writer adds no indentation there (and the loader drops none).
bool PreservesSpace(const xmlNode* element, bool inherited) {
  if (element->properties == nullptr) return inherited;
  for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
    if (a->ns == nullptr || a->ns->href == nullptr ||
        std::strcmp(Chars(a->ns->href), reinterpret_cast<const char*>(XML_XML_NAMESPACE)) != 0 ||
        std::strcmp(Chars(a->name), "space") != 0) {
      continue;
    }
    const xmlNode* value = a->children;
    const char* text = value != nullptr ? Chars(value->content) : "";
    if (std::strcmp(text, "preserve") == 0) return true;
    if (std::strcmp(text, "default") == 0) return false;
  }
  return inherited;
}

void AppendNode(std::string& out, const xmlNode* node, size_t depth, bool preserve) {
  switch (node->type) {
    case XML_ELEMENT_NODE: {
      out += '<';
      AppendQualifiedName(out, node);
      AppendAttributes(out, node);
      if (node->children == nullptr) {
        out += "/>";
        return;
      }
      out += '>';
      const bool inner_preserve = PreservesSpace(node, preserve);
      for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (!inner_preserve && StartsOnNewLine(child)) AppendIndent(out, depth + 1);
        AppendNode(out, child, depth + 1, inner_preserve);
      }
      if (!inner_preserve && node->last->type != XML_TEXT_NODE) AppendIndent(out, depth);
      out += "</";
      AppendQualifiedName(out, node);
      out += '>';
      return;
    }
    case XML_TEXT_NODE:
      AppendEscapedText(out, Chars(node->content));
      return;
    case XML_CDATA_SECTION_NODE:
      out += "<![CDATA[";
      out += Chars(node->content);
      out += "]]>";
      return;
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      AppendCommentOrInstruction(out, node);
      return;
    case XML_ENTITY_REF_NODE:
      out += '&';
      out += Chars(node->name);
      out += ';';
      return;
    default:
      return;  // document type nodes and the like are not part of a store
  }
}

void AppendUtf16(std::string& out, uint32_t code, bool little_endian) {
  auto unit = [&](uint32_t u) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    out += little_endian ? low : high;
    out += little_endian ? high : low;
  };
  if (code >= 0x10000) {
    code -= 0x10000;
    unit(0xD800 + (code >> 10));
    unit(0xDC00 + (code & 0x3FF));
  } else {
    unit(code);
  }
}

std::string EncodeUtf16(const std::string& utf8, bool little_endian) {
  std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  out.reserve(2 + 2 * utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    uint32_t code = lead;
    size_t length = 1;
    if (lead >= 0xF0) {
      code = lead & 0x07, length = 4;
    } else if (lead >= 0xE0) {
      code = lead & 0x0F, length = 3;
    } else if (lead >= 0xC0) {
      code = lead & 0x1F, length = 2;
    }
    if (i + length > utf8.size()) length = 1, code = lead;
    for (size_t k = 1; k < length; ++k) code = (code << 6) | (utf8[i + k] & 0x3F);
    AppendUtf16(out, code, little_endian);
    i += length;
  }
  return out;
}

// Only comments, processing instructions and CDATA sections can carry
// characters beyond ASCII into the body; one that the encoding cannot hold
// becomes "?".
std::string EncodeSingleByte(const std::string& utf8, const std::string& encoding_name) {
  iconv_t converter = iconv_open(encoding_name.c_str(), "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) converter = iconv_open("ISO-8859-1", "UTF-8");
  std::string out;
  out.reserve(utf8.size());
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char buffer[4096];
  while (in_left > 0) {
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    const size_t done = iconv(converter, &in, &in_left, &out_ptr, &out_left);
    out.append(buffer, static_cast<size_t>(out_ptr - buffer));
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      out += '?';  // skip one whole UTF-8 sequence
      size_t skip = 1;
      while (skip < in_left && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
      in += skip;
      in_left -= skip;
    }
  }
  iconv_close(converter);
  return out;
}

}  // namespace

void SerializeStore(const TQuickDom::Impl& impl, std::string& out) {
  const size_t start = out.size();
  if (!impl.declaration.empty()) out += "<?xml " + impl.declaration + "?>";
  if (!impl.doc) return;
  for (const xmlNode* node = impl.doc->children; node != nullptr; node = node->next) {
    if (node->type == XML_DTD_NODE) continue;
    if (out.size() > start) out += "\r\n";
    AppendNode(out, node, 0, false);
  }
}

std::string EncodeStore(const std::string& utf8, TStoreEncoding encoding,
                        const std::string& encoding_name) {
  switch (encoding) {
    case TStoreEncoding::kUtf8:
      return "\xEF\xBB\xBF" + utf8;
    case TStoreEncoding::kUtf16LE:
      return EncodeUtf16(utf8, true);
    case TStoreEncoding::kUtf16BE:
      return EncodeUtf16(utf8, false);
    case TStoreEncoding::kLatin1:
      return EncodeSingleByte(utf8, "ISO-8859-1");
    case TStoreEncoding::kAsciiCompatible:
      return EncodeSingleByte(utf8, encoding_name);
  }
  return utf8;
}

std::string TQuickDom::SaveToString() const {
  std::string out;
  if (impl_->encoding == TStoreEncoding::kUtf8) {
    out = "\xEF\xBB\xBF";  // the body is serialized straight after the mark, with no copy
    SerializeStore(*impl_, out);
    return out;
  }
  SerializeStore(*impl_, out);
  return EncodeStore(out, impl_->encoding, impl_->encoding_name);
}

int TQuickDom::SaveToFile(const std::string& path) {
  // A crash at any moment leaves either the old or the new store, never a torn
  // one; new files are private, since the user store holds passwords.
  ReplaceFileDurably(path, SaveToString(), 0600);
  return 0;
}

}  // namespace pelorin
