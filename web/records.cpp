// The record commands of a form post: delete, edit, the vCard upload and insert,
// in that order, then the save timer and the redirect. Runs on a connection's
// thread with StoreLock held, so the store's cursor is this request's alone.
// The upload is one call of the store's gate, as each other command is.
#include <string>
#include <string_view>

#include "service/vcard_main.h"
#include "web/card_request.h"
#include "web/cross_site.h"
#include "web/import_report.h"

namespace pelorin {
namespace {

constexpr char kUploadError[] = "Error while uploading vcf file";

bool Contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

}  // namespace

void TPelorinService::RecordCommandsRow(RequestInfo& req, ResponseInfo& res, const TRequestRoute& route,
                                        const std::string& user) {
  if (IsCrossSitePost(req)) {
    res.SetStatus(403);
    res.Body = kCrossSiteRefusal;
    return;
  }
  if (route.Store == TStoreKind::Cards) {
    const std::string command = FieldValue(req.FormFields, "Command");
    if (command == kUndoImportCommand) return UndoImportRow(res, OwnerNameOf(user));
    if (command == "merge") return MergeCardsRow(req, res, OwnerNameOf(user));
  }
  RunRecordCommands(req, res, Store(route.Store), OwnerNameOf(user));
  // A password may have changed: what was verified before counts no more.
  if (route.Store == TStoreKind::Users) SignInCache.ForgetAll();
}

// Reads the form, hands each command to the store's gate and answers; the
// rules of what a command may reach are the gate's.
void TPelorinService::RunRecordCommands(RequestInfo& req, ResponseInfo& res, TRecordStore& store,
                                        const std::string& owner) {
  const std::string xpath = FieldValue(req.FormFields, "xPath");
  const std::string command = FieldValue(req.FormFields, "Command");
  std::string xml = FieldValue(req.FormFields, "XML");
  std::string redirect = FieldValue(req.FormFields, "Redirect");
  const auto fail = [&](const std::string& message) {
    WriteLog(message);
    res.Body = message;
    res.SetStatus(500);
  };
  // A bound the record breaks is named after the message the command has always given.
  const auto reason = [](const TRecordOutcome& outcome) {
    const bool said = outcome.Status == TRecordOutcome::TStatus::Refused ||
                      outcome.Status == TRecordOutcome::TStatus::NotDurable;
    return said ? ": " + outcome.Message : std::string();
  };

  if (Contains(command, "delete")) {
    const TRecordOutcome deleted = store.DeleteSelected(xpath, owner);
    if (!deleted) return fail("Error deleting record: " + deleted.Query + reason(deleted));
    SaveTimer.SetEnabled(true);
    return res.RedirectTo(redirect);
  }

  if (Contains(command, "edit")) {
    const TRecordOutcome edited = store.ReplaceRecord(xpath, xml, owner);
    if (!edited) return fail("Error editing record: " + xpath + reason(edited));
  }

  if (Contains(req.RawParams, "vcfupload")) {
    redirect = kImportedPage;
    TUploadReport report;
    TRecordOutcome uploaded = store.InsertUpload(req.RawParams, owner, &report);
    xml = std::move(uploaded.LastRecordXml);
    if (!uploaded) return fail(kUploadError + reason(uploaded));
    // The report page tells what came in and what did not; it is the
    // owner's last import, which its undo takes back.
    if (store.Kind() == TStoreKind::Cards) ImportReports[owner] = std::move(report);
  }

  if (Contains(command, "insert") && !xml.empty()) {
    const TRecordOutcome inserted = store.InsertRecord(xml, owner);
    if (!inserted) {
      const bool malformed = inserted.Status == TRecordOutcome::TStatus::Malformed;
      // The parser's messages follow directly, as they always have; a broken bound is a sentence of its own.
      return fail(std::string("Error inserting record.") +
                  (malformed ? inserted.ErrorText : inserted.Message.empty() ? "" : " " + inserted.Message));
    }
  }

  SaveTimer.SetEnabled(true);
  res.RedirectTo(redirect);
}

}  // namespace pelorin
