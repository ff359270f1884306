#include "tests/vcard/vcard_test_util.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "vcard/upload_text.h"
#include "vcard/vcard2xml.h"
#include "vcard/vcard_upload_reader.h"
#include "xml/xml_library.h"
#include "xml/xml_ptr.h"

namespace pelorin::test {
namespace {

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                     : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::string Card(std::string_view body) {
  return "BEGIN:VCARD\r\n" + std::string(body) + "\r\nEND:VCARD\r\n";
}

std::string Record(std::string_view inner) { return "<vCard>" + std::string(inner) + "</vCard>"; }

std::string ConvertFirstCard(std::string_view text) {
  std::vector<std::string> lines = SplitUploadLines(text);
  TvCard2XML converter;
  return converter.ConvertNextCard(lines);
}

std::vector<std::string> PassesOfLineLoop(std::string_view raw) {
  std::vector<std::string> passes;
  std::string remaining = DecodeUploadText(raw);
  TvCard2XML converter;  // kept: it holds the nested cards still to come
  while (!remaining.empty() || converter.HasNestedCard()) {
    std::vector<std::string> lines = SplitUploadLines(remaining);
    passes.push_back(converter.ConvertNextCard(lines));
    remaining.clear();
    for (const std::string& line : lines) remaining += line + "\r\n";
  }
  return passes;
}

std::vector<std::string> PassesOfReader(std::string_view raw) {
  std::vector<std::string> passes;
  TvCardUploadReader reader(raw);
  std::string card_xml;
  while (reader.NextPass(card_xml)) passes.push_back(card_xml);
  return passes;
}

std::string RecordProblem(const std::string& xml) {
  if (!IsValidUtf8(xml)) return "not valid UTF-8";
  TXmlErrorCollector errors;
  XmlPtr<xmlDoc> doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "record.xml",
                                   "UTF-8", XML_PARSE_NONET));
  if (!doc) return "not well-formed: " + errors.Text();
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr || std::string_view(reinterpret_cast<const char*>(root->name)) != "vCard") {
    return "root is not vCard";
  }
  return std::string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string TestCardsDir() { return PELORIN_TEST_DATA_DIR "/vcards/"; }

std::string SharedCorpusDir() {
  const std::string dir = PELORIN_CORPUS_DIR "/vcards/";
  return std::filesystem::is_directory(dir) ? dir : std::string();
}

std::vector<std::string> CardFilesIn(const std::string& dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || extension == ".md" || extension == ".py") continue;
    files.push_back(fs::relative(entry.path(), dir).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace pelorin::test
