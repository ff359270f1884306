#include "web/request_info.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

namespace pelorin {
namespace {

struct StatusEntry {
  int code;
  std::string_view phrase;
};

// 302 keeps its older phrase: the system's redirects have always been sent with it.
constexpr std::array kStatusPhrases = {
    StatusEntry{100, "Continue"},
    StatusEntry{101, "Switching Protocols"},
    StatusEntry{200, "OK"},
    StatusEntry{201, "Created"},
    StatusEntry{202, "Accepted"},
    StatusEntry{203, "Non-Authoritative Information"},
    StatusEntry{204, "No Content"},
    StatusEntry{205, "Reset Content"},
    StatusEntry{206, "Partial Content"},
    StatusEntry{207, "Multi-Status"},
    StatusEntry{300, "Multiple Choices"},
    StatusEntry{301, "Moved Permanently"},
    StatusEntry{302, "Moved Temporarily"},
    StatusEntry{303, "See Other"},
    StatusEntry{304, "Not Modified"},
    StatusEntry{305, "Use Proxy"},
    StatusEntry{307, "Temporary Redirect"},
    StatusEntry{308, "Permanent Redirect"},
    StatusEntry{400, "Bad Request"},
    StatusEntry{401, "Unauthorized"},
    StatusEntry{402, "Payment Required"},
    StatusEntry{403, "Forbidden"},
    StatusEntry{404, "Not Found"},
    StatusEntry{405, "Method Not Allowed"},
    StatusEntry{406, "Not Acceptable"},
    StatusEntry{407, "Proxy Authentication Required"},
    StatusEntry{408, "Request Timeout"},
    StatusEntry{409, "Conflict"},
    StatusEntry{410, "Gone"},
    StatusEntry{411, "Length Required"},
    StatusEntry{412, "Precondition Failed"},
    StatusEntry{413, "Payload Too Large"},
    StatusEntry{414, "URI Too Long"},
    StatusEntry{415, "Unsupported Media Type"},
    StatusEntry{416, "Range Not Satisfiable"},
    StatusEntry{417, "Expectation Failed"},
    StatusEntry{426, "Upgrade Required"},
    StatusEntry{428, "Precondition Required"},
    StatusEntry{429, "Too Many Requests"},
    StatusEntry{431, "Request Header Fields Too Large"},
    StatusEntry{500, "Internal Server Error"},
    StatusEntry{501, "Not Implemented"},
    StatusEntry{502, "Bad Gateway"},
    StatusEntry{503, "Service Unavailable"},
    StatusEntry{504, "Gateway Timeout"},
    StatusEntry{505, "HTTP Version Not Supported"},
};

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view TrimSpacesAndTabs(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Name of a "Name: value" header line; a line without ":" has none.
bool HeaderLineHasName(std::string_view line, std::string_view name) {
  const auto colon = line.find(':');
  return colon != std::string_view::npos && EqualsIgnoringCase(line.substr(0, colon), name);
}

// A redirect target is often a posted field ("Redirect"). CR and LF there would
// start a header line of their own, and the other control bytes and DEL are no
// part of a URL, which clients read differently (some cut the line, some drop the
// byte); percent-encoded they mean the same to every client. Other bytes are kept,
// so a target that was already encoded is not encoded twice.
std::string EncodeControlBytes(std::string_view target) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(target.size());
  for (const char c : target) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0f];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string_view StatusPhrase(int code) {
  for (const auto& entry : kStatusPhrases) {
    if (entry.code == code) return entry.phrase;
  }
  return "Unknown Response Code";
}

void ResponseInfo::SetStatus(int code) {
  StatusCode = code;
  StatusText = std::string(StatusPhrase(code));
}

void ResponseInfo::RedirectTo(std::string_view target) {
  SetStatus(302);
  SetHeader("Location", EncodeControlBytes(target));
}

void ResponseInfo::SetHeader(std::string_view name, std::string_view value) {
  const auto existing = std::find_if(ExtraHeaders.begin(), ExtraHeaders.end(),
                                     [&](const std::string& line) { return HeaderLineHasName(line, name); });
  if (value.empty()) {
    if (existing != ExtraHeaders.end()) ExtraHeaders.erase(existing);
    return;
  }
  std::string line;
  line.reserve(name.size() + 2 + value.size());
  line.append(name).append(": ").append(value);
  if (existing != ExtraHeaders.end()) {
    *existing = std::move(line);
  } else {
    ExtraHeaders.push_back(std::move(line));
  }
}

void ResponseInfo::AddRawHeader(std::string_view line) { ExtraHeaders.emplace_back(line); }

std::string FieldValue(const std::vector<std::string>& fields, std::string_view name) {
  for (const std::string& entry : fields) {
    const auto equals = entry.find('=');
    if (equals == std::string::npos) continue;
    if (EqualsIgnoringCase(std::string_view(entry).substr(0, equals), name)) return entry.substr(equals + 1);
  }
  return {};
}

std::string HeaderValue(const std::vector<std::string>& headers, std::string_view name) {
  for (const std::string& line : headers) {
    if (!HeaderLineHasName(line, name)) continue;
    const std::string_view value = std::string_view(line).substr(line.find(':') + 1);
    return std::string(TrimSpacesAndTabs(value));
  }
  return {};
}

}  // namespace pelorin
