// The record commands of a form post: delete, edit, the vCard upload and insert,
// in that order, then the save timer and the redirect. Runs on a connection's
// thread with StoreLock held, so the store's cursor is this request's alone.
#include <stdexcept>
#include <string>
#include <string_view>

#include "service/vcard_main.h"
#include "web/cross_site.h"

namespace pelorin {
namespace {

constexpr char kCrossSiteRefusal[] = "Cross-site request refused.";
constexpr char kUploadError[] = "Error while uploading vcf file";
constexpr char kImportedPage[] = "importedmsg.htm";

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool Contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// Whether the node at the cursor has an OWNER child with the owner's name; the
// cursor is restored.
bool IsOwnedBy(TQuickDom& store, const std::string& owner) {
  const TNodeRef node = store.CurrentNode();
  bool owned = false;
  if (store.SelectFirstChild()) {
    for (bool found = store.SelectSibling("OWNER"); found && !owned; found = store.SelectNextSibling("OWNER")) {
      owned = store.GetText() == owner;
    }
  }
  store.SetCurrentNode(node);
  return owned;
}

}  // namespace

void TPelorinService::RecordCommandsRow(RequestInfo& req, ResponseInfo& res, const std::string& user) {
  if (IsCrossSitePost(req)) {
    res.SetStatus(403);
    res.Body = kCrossSiteRefusal;
    return;
  }
  RunRecordCommands(req, res, LowerAscii(user));
}

void TPelorinService::RunRecordCommands(RequestInfo& req, ResponseInfo& res, const std::string& owner) {
  const std::string xpath = FieldValue(req.FormFields, "xPath");
  const std::string command = FieldValue(req.FormFields, "Command");
  std::string xml = FieldValue(req.FormFields, "XML");
  std::string redirect = FieldValue(req.FormFields, "Redirect");
  TQuickDom& store = StoreForPath(req.Path);
  const auto fail = [&](const std::string& message) {
    WriteLog(message);
    res.Body = message;
    res.SetStatus(500);
  };

  if (Contains(command, "delete")) {
    const bool own_cards_only = LowerAscii(req.Path).starts_with("/pelorin");
    const std::string used = own_cards_only ? xpath + "[OWNER=\"" + owner + "\"]" : xpath;
    try {
      while (store.SelectNode(used)) {
        // A union in the posted XPath escapes the appended condition, so every
        // match is checked once more before it goes; and a node that cannot be
        // removed would be found again forever.
        if (own_cards_only && !IsOwnedBy(store, owner)) throw std::runtime_error("not the user's card");
        if (!store.RemoveCurrent()) throw std::runtime_error("the node cannot be removed");
      }
    } catch (...) {
      return fail("Error deleting record: " + used);
    }
    SaveTimer.SetEnabled(true);
    return res.RedirectTo(redirect);
  }

  if (Contains(command, "edit")) {
    try {
      if (store.SelectNode(xpath)) {
        const TNodeRef old = store.CurrentNode();
        store.SelectRoot();
        std::string ignored;
        store.AppendFragment(xml, ignored);
        const TNodeRef replacement = store.CurrentNode();
        store.AddChild("OWNER");
        store.SetText(owner);
        store.SetCurrentNode(old);
        if (!store.RemoveCurrent()) {
          // The document element, say: the replacement would stand beside it.
          store.SetCurrentNode(replacement);
          store.RemoveCurrent();
          throw std::runtime_error("the node cannot be replaced");
        }
      }
    } catch (...) {
      return fail("Error editing record: " + xpath);
    }
  }

  if (Contains(req.RawParams, "vcfupload")) {
    redirect = kImportedPage;
    try {
      UploadVcf(req, store, owner, xml);
    } catch (...) {
      return fail(kUploadError);
    }
  }

  if (Contains(command, "insert") && !xml.empty()) {
    std::string ErrorText;
    try {
      InsertRecord(store, xml, owner, ErrorText);
    } catch (...) {
      return fail("Error inserting record." + ErrorText);
    }
  }

  SaveTimer.SetEnabled(true);
  res.RedirectTo(redirect);
}

void TPelorinService::InsertRecord(TQuickDom& store, const std::string& xml, const std::string& owner,
                                   std::string& ErrorText) {
  TRecordIdIndex& ids = RecordIdIndexes[&store];
  ids.Refresh(store);
  store.SelectRoot();
  store.AppendFragment(xml, ErrorText);
  const TNodeRef record = store.CurrentNode();
  const bool is_card = IsCardRecord(record);
  store.AddChild("OWNER");
  store.SetText(owner);
  // The new card's own first ID counts in the collision test, as it is in the store.
  const std::string fragment_id = is_card ? store.GetSiblingText("ID") : std::string();
  if (is_card) ids.Add(fragment_id);
  ids.Commit(store);

  const std::string id = NewRecordId(store);
  store.SetCurrentNode(record);
  if (store.SelectFirstChild() && store.SelectSibling("ID")) {
    store.RemoveCurrent();  // the cursor returns to the record
  } else {
    store.SetCurrentNode(record);
  }
  store.AddChild("ID");
  store.SetText(id);
  if (is_card) {
    // A fragment with two IDs keeps its second one, which is now the first.
    const TNodeRef new_id = store.CurrentNode();
    ids.Remove(fragment_id);
    store.SetCurrentNode(record);
    if (store.SelectFirstChild()) ids.Add(store.GetSiblingText("ID"));
    store.SetCurrentNode(new_id);
  }
  ids.Commit(store);
}

std::string TPelorinService::NewRecordId(TQuickDom& store) {
  return NewRecordIdFor(store, RecordIdIndexes[&store], RecordClock);
}

}  // namespace pelorin
