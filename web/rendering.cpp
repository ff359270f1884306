// The render branch of the dispatcher: a page that does not exist as a file is
// made by the stylesheet beside its path, applied to the store the path
// addresses, and wrapped in the prolog of its extension. Runs on a connection's
// thread with StoreLock held.
#include <string>
#include <string_view>
#include <vector>

#include "service/vcard_main.h"
#include "web/card_listing.h"
#include "web/card_duplicates.h"
#include "web/import_report.h"

namespace pelorin {
namespace {

constexpr char kXhtmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" \"DTD/xhtml1-transitional.dtd\">";
constexpr char kWmlProlog[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>"
    "<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML 1.1//EN\" \"http://www.wapforum.org/DTD/wml_1.1.xml\">";
constexpr char kCardListPath[] = "/pelorin/index.htm";
// A page over this many cards uses tens of megabytes while it is made.
constexpr std::size_t kTrimAfterCards = 2000;
// The import report and its undo confirmation read the user's last import.
constexpr char kImportReportPath[] = "/pelorin/importedmsg.htm";
constexpr char kUndoImportPath[] = "/pelorin/undoimport.htm";
// The duplicates page sees the cards in its groups; the merge confirmation
// the two cards and their merged result.
constexpr char kDuplicatesPath[] = "/pelorin/duplicates.htm";
constexpr char kMergePath[] = "/pelorin/mergecards.htm";
constexpr std::string_view kUtf16Declaration = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";

// The parameters the server sets; a request field of one of these names would
// let a query such as "?USER=bob" show another user's cards.
constexpr std::string_view kServerParameters[] = {"USER", "NAME", "ADMIN", "VERSION", "DEFAULTPASSWORD"};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
    if (EqualsIgnoringCase(text.substr(at, needle.size()), needle)) return at;
  }
  return std::string_view::npos;
}

// The transform gives UTF-8; the prologs declare ISO-8859-1. A code point above
// U+00FF, and a byte that does not start a well-formed sequence, becomes "?".
std::string NarrowToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    }
    std::size_t taken = 1;
    while (length != 0 && taken < length && i + taken < utf8.size() &&
           (static_cast<unsigned char>(utf8[i + taken]) & 0xC0) == 0x80) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + taken]) & 0x3F);
      ++taken;
    }
    if (length != 0 && taken == length && code <= 0xFF) {
      out += static_cast<char>(code);
    } else {
      out += '?';
    }
    i += taken;
  }
  return out;
}

struct TSelectionRelease {
  TQuickDom& Dom;
  ~TSelectionRelease() { Dom.Clear(); }
};

bool IsServerParameter(std::string_view entry) {
  const std::string_view name = entry.substr(0, entry.find('='));
  for (const std::string_view reserved : kServerParameters) {
    if (EqualsIgnoringCase(name, reserved)) return true;
  }
  return false;
}

void AppendServerParameters(std::vector<std::string>& fields, const TSignedIn& account) {
  std::erase_if(fields, [](const std::string& entry) { return IsServerParameter(entry); });
  fields.push_back("USER=" + LowerAscii(account.User));
  fields.push_back("NAME=" + account.DisplayName);
  if (account.IsAdmin) fields.push_back("ADMIN=true");
  if (account.DefaultPassword) fields.push_back("DEFAULTPASSWORD=true");
  fields.push_back(std::string("VERSION=") + kVersionText);
}

// The extension as the dispatcher computed it: from the last ".", lower-cased.
}  // namespace

std::string TPelorinService::WrapOutput(const std::string& ext, const std::string& text) {
  if (ext == ".htm") return kXhtmlProlog + text;
  if (ext == ".wml") return kWmlProlog + text;
  if (ext == ".vcf") {
    std::string out = text;
    const std::size_t at = FindIgnoringCase(out, kUtf16Declaration);
    if (at != std::string::npos) out.erase(at, kUtf16Declaration.size());
    return out;
  }
  return text;
}

void TPelorinService::RenderPageRow(RequestInfo& req, ResponseInfo& res, const TRequestRoute& route,
                                    const TSignedIn& account) {
  try {
    TQuickDom* document = &Store(route.Store).Dom();
    AppendServerParameters(req.FormFields, account);
    const std::string stylesheet = route.File + ".xsl";
    // A vCard download of the book (export.vcf) is made again only when the
    // user's cards, the request or the stylesheet changed; the last one of
    // each user is kept, so that asking again costs a copy, not a transform
    // of every card.
    const bool keepable = route.Store == TStoreKind::Cards && route.Extension == ".vcf";
    const std::string owner = LowerAscii(account.User);
    std::string download_key;
    std::uint64_t revision = 0;
    if (keepable) {
      download_key = route.File;
      for (const std::string& field : req.FormFields) download_key += "\n" + field;
      revision = TempDom.StylesheetRevision(stylesheet);
      const auto kept = RenderedDownloads.find(owner);
      if (revision != 0 && kept != RenderedDownloads.end() && kept->second.Key == download_key &&
          kept->second.ChangeSequence == XMLDom.ChangeSequence() && kept->second.Revision == revision) {
        res.Body = kept->second.Body;
        return;
      }
    }
    // A page of the card area shows the user's own cards only, so it is
    // rendered over those (the card an ID names, when the request names one)
    // and costs what they cost, whatever other users hold. The card list is
    // searched, sorted and paged first; its stylesheet sees the page's cards.
    if (route.Store == TStoreKind::Cards) {
      if (route.File == AppDir + MapPath(kCardListPath)) {
        LoadListingDocument(XMLDom, CardListings, owner, req.FormFields, TempDom);
      } else if (route.File == AppDir + MapPath(kImportReportPath) || route.File == AppDir + MapPath(kUndoImportPath)) {
        LoadImportDocument(XMLDom, ImportReports, owner, TempDom);
      } else if (route.File == AppDir + MapPath(kDuplicatesPath)) {
        LoadDuplicatesDocument(XMLDom, owner, TempDom);
      } else if (route.File == AppDir + MapPath(kMergePath)) {
        LoadMergeDocument(XMLDom, owner, FieldValue(req.FormFields, "ID"), FieldValue(req.FormFields, "OTHER"),
                          TempDom);
      } else {
        std::vector<TNodeRef> shown;
        for (const TCardRef& ref : XMLDom.OwnCards(owner, FieldValue(req.FormFields, "ID"))) shown.push_back(ref.Node);
        TempDom.LoadSelection(XMLDom.Dom(), shown);
        if (shown.size() >= kTrimAfterCards) HeapTrimDue = true;
      }
      document = &TempDom;
    }
    std::string output;
    std::string ErrorText;
    // The copy of the user's cards goes as soon as the page is made: kept,
    // the copy of a large book would hold its memory until the next page.
    const TSelectionRelease release{TempDom};
    document->Transform(stylesheet, &req.FormFields, output, ErrorText);
    // vCard text goes out in UTF-8, as its lines say; pages are narrowed.
    std::string text = WrapOutput(route.Extension, route.Extension == ".vcf" ? output : NarrowToLatin1(output));
    if (!ErrorText.empty()) {
      res.SetStatus(500);
      text = ErrorText;
    } else if (keepable && revision != 0 && text.size() <= kMaxKeptDownloadBytes) {
      RenderedDownloads[owner] = {download_key, XMLDom.ChangeSequence(), revision, text};
    }
    res.Body = std::move(text);
  } catch (...) {
    const std::string message = "Error transforming file: " + req.Path;
    WriteLog(message);
    res.SetStatus(500);
    res.Body = message;
  }
}

}  // namespace pelorin
