#include "tests/reliability/durability_store_file.h"

#include <algorithm>
#include <array>
#include <set>

#include "tests/temp_dir.h"
#include "xml/xml_library.h"
#include "xml/xml_ptr.h"

namespace pelorin::testing {
namespace {

constexpr std::array<const char*, 4> kFields = {"FN", "NOTE", "OWNER", "ID"};

std::string NameOf(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

std::string TextOf(const xmlNode* node) {
  const XmlPtr<xmlChar> text(xmlNodeGetContent(node));
  return text ? reinterpret_cast<const char*>(text.get()) : "";
}

// Indentation between elements is the only text a record or the document element holds.
bool IsIndentation(const xmlNode* node) {
  if (node->type != XML_TEXT_NODE) return false;
  const std::string text = TextOf(node);
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool IsDecimal(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsVersion(const std::string& text) {
  return text.size() > 1 && text[0] == 'v' && IsDecimal(text.substr(1));
}

// One vCard record: its four fields, or the reason it is not whole.
struct TRecord {
  std::string Fields[kFields.size()];
  std::string Fault;
};

TRecord ReadRecord(const xmlNode* card) {
  TRecord record;
  int seen[kFields.size()] = {};
  for (const xmlNode* child = card->children; child != nullptr; child = child->next) {
    if (IsIndentation(child)) continue;
    if (child->type != XML_ELEMENT_NODE) {
      record.Fault = "a card holds a node of type " + std::to_string(child->type);
      return record;
    }
    const auto field = std::find(kFields.begin(), kFields.end(), NameOf(child));
    if (field == kFields.end()) {
      record.Fault = "a card holds an element " + NameOf(child);
      return record;
    }
    for (const xmlNode* inner = child->children; inner != nullptr; inner = inner->next) {
      if (inner->type != XML_TEXT_NODE) {
        record.Fault = "the " + NameOf(child) + " of a card is not plain text";
        return record;
      }
    }
    const std::size_t index = static_cast<std::size_t>(field - kFields.begin());
    ++seen[index];
    record.Fields[index] = TextOf(child);
  }
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    if (seen[i] != 1) {
      record.Fault =
          "a card (FN " + record.Fields[0] + ") has " + std::to_string(seen[i]) + " " + kFields[i];
      return record;
    }
  }
  return record;
}

}  // namespace

TStoreReading ParseCardStore(const std::string& bytes, std::size_t clients) {
  TStoreReading reading;
  reading.ByClient.resize(clients);
  TXmlErrorCollector errors;
  const XmlPtr<xmlDoc> doc(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "base.xml", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) {
    reading.Faults.push_back("not well-formed (" + std::to_string(bytes.size()) +
                             " bytes): " + errors.Text());
    return reading;
  }
  reading.Parsed = true;
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr || NameOf(root) != "xBase") {
    reading.Faults.push_back("the document element is not xBase");
    return reading;
  }
  std::set<std::string> keys;
  std::set<std::string> ids;
  for (const xmlNode* node = root->children; node != nullptr; node = node->next) {
    if (IsIndentation(node)) continue;
    if (node->type != XML_ELEMENT_NODE || NameOf(node) != "vCard") {
      reading.Faults.push_back("the document element holds something other than a vCard");
      continue;
    }
    const TRecord record = ReadRecord(node);
    if (!record.Fault.empty()) {
      reading.Faults.push_back(record.Fault);
      continue;
    }
    const std::string& key = record.Fields[0];
    const std::string& version = record.Fields[1];
    const std::string& owner = record.Fields[2];
    const std::string& id = record.Fields[3];
    const auto parsed_key = ParseCardKey(key);
    if (!parsed_key || parsed_key->first >= clients) {
      reading.Faults.push_back("a card has the unknown key " + key);
      continue;
    }
    const std::size_t client = parsed_key->first;
    if (owner != OwnerOf(client)) reading.Faults.push_back("card " + key + " belongs to " + owner);
    if (!IsVersion(version))
      reading.Faults.push_back("card " + key + " has the version " + version);
    if (!IsDecimal(id)) reading.Faults.push_back("card " + key + " has the ID " + id);
    if (!keys.insert(key).second) reading.Faults.push_back("card " + key + " is there twice");
    if (!ids.insert(id).second)
      reading.Faults.push_back("the ID " + id + " is there twice (card " + key + ")");
    reading.ByClient[client][key] = TCard{version, id};
  }
  return reading;
}

TStoreReading ReadCardStore(const std::string& path, std::size_t clients) {
  const std::string bytes = ReadFile(path);
  if (bytes.empty()) {
    TStoreReading reading;
    reading.ByClient.resize(clients);
    reading.Faults.push_back(path + " is missing or empty");
    return reading;
  }
  return ParseCardStore(bytes, clients);
}

std::string CardStoreText(const std::vector<TCardSet>& by_client) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>";
  for (std::size_t client = 0; client < by_client.size(); ++client) {
    for (const auto& [key, card] : by_client[client]) {
      text += "\r\n  <vCard>\r\n    <FN>" + key + "</FN>\r\n    <NOTE>" + card.Version +
              "</NOTE>\r\n    <OWNER>" + OwnerOf(client) + "</OWNER>\r\n    <ID>" + card.Id +
              "</ID>\r\n  </vCard>";
    }
  }
  return text + "\r\n</xBase>";
}

}  // namespace pelorin::testing
