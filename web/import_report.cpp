#include "web/import_report.h"

#include <unordered_set>

#include "web/dav_multistatus.h"

namespace pelorin {
namespace {

void AddCard(std::string& xml, const char* element, const TUploadedCard& card) {
  xml += '<';
  xml += element;
  xml += '>';
  AppendTextElement(xml, "NUMBER", std::to_string(card.Number));
  if (!card.Name.empty()) AppendTextElement(xml, "NAME", card.Name);
  if (!card.Id.empty()) AppendTextElement(xml, "ID", card.Id);
  if (!card.Reason.empty()) AppendTextElement(xml, "REASON", card.Reason);
  for (const std::string& note : card.Notes) AppendTextElement(xml, "NOTE", note);
  xml += "</";
  xml += element;
  xml += '>';
}

}  // namespace

std::string ImportReportXml(const TUploadReport& report, std::size_t total) {
  std::string xml = "<IMPORT>";
  AppendTextElement(xml, "CARDS", std::to_string(report.Cards));
  AppendTextElement(xml, "ADDEDCOUNT", std::to_string(report.Added.size()));
  AppendTextElement(xml, "REFUSEDCOUNT", std::to_string(report.Refused.size()));
  AppendTextElement(xml, "TOTAL", std::to_string(total));
  if (report.Undone) xml += "<UNDONE/>";
  for (const TUploadedCard& card : report.Added) AddCard(xml, "ADDED", card);
  for (const TUploadedCard& card : report.Refused) AddCard(xml, "REFUSED", card);
  return xml + "</IMPORT>";
}

std::vector<std::string> AddedIds(const TUploadReport& report) {
  std::vector<std::string> ids;
  ids.reserve(report.Added.size());
  for (const TUploadedCard& card : report.Added) ids.push_back(card.Id);
  return ids;
}

void LoadImportDocument(TRecordStore& cards, const TImportReports& reports, const std::string& owner,
                        TQuickDom& document) {
  const std::vector<TCardRef> own = cards.OwnCards(owner);
  const auto found = reports.find(owner);
  std::vector<TNodeRef> shown;
  if (found != reports.end()) {
    const std::vector<std::string> ids = AddedIds(found->second);
    const std::unordered_set<std::string> wanted(ids.begin(), ids.end());
    TQuickDom& dom = cards.Dom();
    for (const TCardRef& ref : own) {
      dom.SetCurrentNode(ref.Node);
      if (!dom.SelectFirstChild()) continue;
      for (bool more = dom.SelectSibling("ID"); more; more = dom.SelectNextSibling("ID")) {
        if (wanted.contains(dom.GetText())) {
          shown.push_back(ref.Node);
          break;
        }
      }
    }
  }
  document.LoadSelection(cards.Dom(), shown);
  if (found == reports.end() || !document.SelectRoot()) return;
  std::string ErrorText;
  document.AppendFragment(ImportReportXml(found->second, own.size()), ErrorText);  // escaped, so well-formed
}

}  // namespace pelorin
