// The 207 Multi-Status answer of WebDAV: one response per resource, its found
// properties in a 200 propstat first and the unknown ones in a 404 propstat
// after it (Thunderbird reads the first status of a response), status lines
// exactly "HTTP/1.1 200 OK", every text escaped.
#ifndef PELORIN_WEB_DAV_MULTISTATUS_H_
#define PELORIN_WEB_DAV_MULTISTATUS_H_

#include <string>
#include <vector>

#include "xml/dav_request.h"

namespace pelorin {

// A property with its value as XML: escaped text, or elements of the DAV,
// CardDAV or calendarserver namespaces written with the prefixes D, C and CS.
struct TDavProperty {
  TDavName Name;
  std::string Xml;
};

class TDavMultistatus {
 public:
  void AddResponse(const std::string& href, const std::vector<TDavProperty>& found,
                   const std::vector<TDavName>& missing);
  // A response of a status alone ("HTTP/1.1 404 Not Found" for a missing href).
  void AddStatus(const std::string& href, int status);
  // The sync-collection answer's token, after the responses.
  void SetSyncToken(const std::string& token) { sync_token_ = token; }
  std::string Text() const;

 private:
  std::string body_;
  std::string sync_token_;
};

// The name as an opening tag's text ("D:getetag", or "x:name xmlns:x=\"...\"") and
// as a closing tag's.
std::string OpeningName(const TDavName& name);
std::string ClosingName(const TDavName& name);

// Text escaped for an element's content.
std::string EscapedText(const std::string& text);
// Appends <name>text</name>, the text escaped (the pages' side documents too).
void AppendTextElement(std::string& out, const char* name, const std::string& text);

}  // namespace pelorin

#endif  // PELORIN_WEB_DAV_MULTISTATUS_H_
