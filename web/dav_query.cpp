#include "web/dav_query.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "vcard/charset.h"
#include "vcard/vcard_text.h"

namespace pelorin {
namespace {

// One property of the card: its parameters (names upper-cased, each value of
// a comma list on its own) and its value, unescaped.
struct TPropertyInstance {
  std::vector<std::pair<std::string, std::string>> Params;
  std::string Value;
};

std::string Unfolded(const std::string& vcard) {
  std::string unfolded;
  unfolded.reserve(vcard.size());
  for (std::size_t i = 0; i < vcard.size(); ++i) {
    if (vcard.compare(i, 2, "\r\n") == 0 && i + 2 < vcard.size() && (vcard[i + 2] == ' ' || vcard[i + 2] == '\t')) {
      i += 2;
      continue;
    }
    unfolded += vcard[i];
  }
  return unfolded;
}

// Splits `text` at `separator` outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == separator && !quoted) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string Unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::vector<TPropertyInstance> Instances(const std::string& vcard, const std::string& upper_name) {
  const std::string unfolded = Unfolded(vcard);
  std::vector<TPropertyInstance> found;
  std::size_t start = 0;
  while (start < unfolded.size()) {
    const std::size_t end = std::min(unfolded.find("\r\n", start), unfolded.size());
    const std::string_view line = std::string_view(unfolded).substr(start, end - start);
    start = end + 2;
    // The name and parameters end at the first colon outside quotes.
    std::size_t colon = std::string_view::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size() && colon == std::string_view::npos; ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (line[i] == ':' && !quoted) colon = i;
    }
    if (colon == std::string_view::npos) continue;
    const std::vector<std::string_view> head = SplitOutsideQuotes(line.substr(0, colon), ';');
    std::string_view name = head.front();
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
    if (UpperAscii(name) != upper_name) continue;
    TPropertyInstance instance;
    for (std::size_t i = 1; i < head.size(); ++i) {
      const std::size_t equals = head[i].find('=');
      // A bare word (TEL;WORK, as older cards write it) is a TYPE.
      const std::string param = equals == std::string_view::npos ? "TYPE" : UpperAscii(head[i].substr(0, equals));
      const std::string_view values = equals == std::string_view::npos ? head[i] : head[i].substr(equals + 1);
      for (const std::string_view one : SplitOutsideQuotes(values, ',')) instance.Params.emplace_back(param, Unquoted(one));
    }
    const std::string_view raw = line.substr(colon + 1);
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size()) {
        ++i;
        instance.Value += raw[i] == 'n' || raw[i] == 'N' ? '\n' : raw[i];
      } else {
        instance.Value += raw[i];
      }
    }
    found.push_back(std::move(instance));
  }
  return found;
}

// The lower-case form of a code point for the scripts address books hold
// most (Latin, Greek, Cyrillic); others stay as they are.
char32_t LowerCodePoint(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs upper and lower case, mostly even then odd.
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_upper) return c % 2 == 1 ? c + 1 : c;
    if (c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return c % 2 == 0 ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

// The default collation, i;unicode-casemap (RFC 4790): letters compared
// without regard to case. Bytes that are no well-formed UTF-8 stay as they are.
std::string CaseFolded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                       : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (length == 0) {
      out += text[i++];
      continue;
    }
    AppendUtf8(out, LowerCodePoint(c));
    i += length;
  }
  return out;
}

bool TextMatches(const TTextMatch& match, const std::string& value) {
  const std::string text = match.CaseSensitive ? match.Text : CaseFolded(match.Text);
  const std::string seen = match.CaseSensitive ? value : CaseFolded(value);
  bool result = false;
  if (match.MatchType == "equals") {
    result = seen == text;
  } else if (match.MatchType == "starts-with") {
    result = seen.starts_with(text);
  } else if (match.MatchType == "ends-with") {
    result = seen.ends_with(text);
  } else {
    result = seen.find(text) != std::string::npos;
  }
  return result != match.Negate;
}

bool ParamMatches(const TParamFilter& filter, const TPropertyInstance& instance) {
  bool present = false;
  bool matched = false;
  for (const auto& [name, value] : instance.Params) {
    if (name != filter.Name) continue;
    present = true;
    matched = matched || (filter.Match && TextMatches(*filter.Match, value));
  }
  if (filter.IsNotDefined) return !present;
  if (!filter.Match) return present;
  return matched;
}

bool PropFilterPasses(const TPropFilter& filter, const std::string& vcard) {
  const std::vector<TPropertyInstance> instances = Instances(vcard, filter.Name);
  if (filter.IsNotDefined) return instances.empty();
  if (filter.Matches.empty() && filter.ParamFilters.empty()) return !instances.empty();
  std::vector<bool> results;
  for (const TTextMatch& match : filter.Matches) {
    results.push_back(std::any_of(instances.begin(), instances.end(),
                                  [&](const TPropertyInstance& one) { return TextMatches(match, one.Value); }));
  }
  for (const TParamFilter& param : filter.ParamFilters) {
    results.push_back(std::any_of(instances.begin(), instances.end(),
                                  [&](const TPropertyInstance& one) { return ParamMatches(param, one); }));
  }
  return filter.AllOf ? std::all_of(results.begin(), results.end(), [](bool b) { return b; })
                      : std::any_of(results.begin(), results.end(), [](bool b) { return b; });
}

}  // namespace

bool PassesFilter(const TReportRequest& query, const std::string& vcard) {
  if (query.Filters.empty()) return true;
  const auto passes = [&](const TPropFilter& filter) { return PropFilterPasses(filter, vcard); };
  return query.FiltersAllOf ? std::all_of(query.Filters.begin(), query.Filters.end(), passes)
                            : std::any_of(query.Filters.begin(), query.Filters.end(), passes);
}

}  // namespace pelorin
