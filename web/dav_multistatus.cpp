#include "web/dav_multistatus.h"

#include "web/request_info.h"
#include "xml/xml_escape.h"

namespace pelorin {
namespace {

const char* PrefixOf(const std::string& ns) {
  if (ns == kDavNamespace) return "D";
  if (ns == kCardDavNamespace) return "C";
  if (ns == kCalendarServerNamespace) return "CS";
  return nullptr;
}

std::string StatusLine(int status) { return "HTTP/1.1 " + std::to_string(status) + " " + std::string(StatusPhrase(status)); }

}  // namespace

std::string EscapedText(const std::string& text) {
  std::string out;
  AppendEscapedText(out, text);
  return out;
}

void AppendTextElement(std::string& out, const char* name, const std::string& text) {
  out += '<';
  out += name;
  out += '>';
  AppendEscapedText(out, text);
  out += "</";
  out += name;
  out += '>';
}

std::string OpeningName(const TDavName& name) {
  if (const char* prefix = PrefixOf(name.Namespace)) return std::string(prefix) + ":" + name.Name;
  std::string attribute;
  AppendEscapedAttribute(attribute, name.Namespace);
  return "x:" + name.Name + " xmlns:x=\"" + attribute + "\"";
}

std::string ClosingName(const TDavName& name) {
  if (const char* prefix = PrefixOf(name.Namespace)) return std::string(prefix) + ":" + name.Name;
  return "x:" + name.Name;
}

void TDavMultistatus::AddResponse(const std::string& href, const std::vector<TDavProperty>& found,
                                  const std::vector<TDavName>& missing) {
  body_ += "<D:response><D:href>" + EscapedText(href) + "</D:href>";
  if (!found.empty()) {
    body_ += "<D:propstat><D:prop>";
    for (const TDavProperty& property : found) {
      if (property.Xml.empty()) {
        body_ += "<" + OpeningName(property.Name) + "/>";
      } else {
        body_ += "<" + OpeningName(property.Name) + ">" + property.Xml + "</" + ClosingName(property.Name) + ">";
      }
    }
    body_ += "</D:prop><D:status>" + StatusLine(200) + "</D:status></D:propstat>";
  }
  if (!missing.empty()) {
    body_ += "<D:propstat><D:prop>";
    for (const TDavName& name : missing) body_ += "<" + OpeningName(name) + "/>";
    body_ += "</D:prop><D:status>" + StatusLine(404) + "</D:status></D:propstat>";
  }
  body_ += "</D:response>";
}

void TDavMultistatus::AddStatus(const std::string& href, int status) {
  body_ += "<D:response><D:href>" + EscapedText(href) + "</D:href><D:status>" + StatusLine(status) +
           "</D:status></D:response>";
}

std::string TDavMultistatus::Text() const {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\" xmlns:C=\"" +
         std::string(kCardDavNamespace) + "\" xmlns:CS=\"" + kCalendarServerNamespace + "\">" + body_ +
         (sync_token_.empty() ? std::string() : "<D:sync-token>" + EscapedText(sync_token_) + "</D:sync-token>") +
         "</D:multistatus>\n";
}

}  // namespace pelorin
