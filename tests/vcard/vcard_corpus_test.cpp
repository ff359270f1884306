// Real files of many programs, from the shared corpus beside the checkout:
// every record is well-formed UTF-8 XML, and a hand-checked sample of records
// says what its card says. A clone of the project alone has no corpus; these
// tests then skip and say so, and the project's own cards
// (vcard_test_cards_test.cpp) cover the same quirks.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/vcard/vcard_test_util.h"

namespace pelorin {
namespace {

const std::string kCorpus = test::SharedCorpusDir();
#define SKIP_WITHOUT_CORPUS() \
  if (kCorpus.empty()) GTEST_SKIP() << "no shared corpus at " PELORIN_CORPUS_DIR "/vcards"

std::vector<std::string> RecordsOf(const std::string& relative_path) {
  std::vector<std::string> records;
  for (const std::string& pass : test::PassesOfReader(test::ReadFile(kCorpus + relative_path))) {
    if (!pass.empty()) records.push_back(pass);
  }
  return records;
}

TEST(CorpusTest, EveryRecordIsWellFormedUtf8) {
  SKIP_WITHOUT_CORPUS();
  // The files of many cards, and one without a card start, which imports nothing.
  const std::map<std::string, int> expected_counts = {
      {"eds_vcard_7.vcf", 0},
      {"gammu_se-3-sonyericsson.vcf", 499},
      {"fkvcards_LargeFile_1000cards.vcf", 1000},
      {"ical4j_vcard-vCards-SAP_apple.vcf", 30},
      {"qtpim-symbian_vcard01_55cards.vcf", 55}};
  int files = 0;
  for (const std::string& relative : test::CardFilesIn(kCorpus)) {
    const std::string name = std::filesystem::path(relative).filename().string();
    const std::vector<std::string> file_records = RecordsOf(relative);
    for (const std::string& record : file_records) {
      EXPECT_EQ("", test::RecordProblem(record)) << relative << "\n" << record;
    }
    const auto expected = expected_counts.find(name);
    if (expected == expected_counts.end()) {
      EXPECT_LT(0u, file_records.size()) << relative;
    } else {
      EXPECT_EQ(expected->second, static_cast<int>(file_records.size())) << relative;
    }
    ++files;
  }
  EXPECT_EQ(150, files);
}

// Records checked by hand against their cards: names, phones with their
// kinds, e-mail addresses, addresses and letters outside ASCII.
TEST(CorpusTest, HandCheckedRecords) {
  SKIP_WITHOUT_CORPUS();
  const struct {
    const char* file;
    std::size_t record;
    std::vector<std::string> contains;
  } cases[] = {
      {"exports/fkvcards_AnsiIssue_outlook-cp1252.vcf", 0,  // Outlook, Windows-1252 bytes
       {"<N><FAMILY>Rastral</FAMILY><GIVEN>Ralf</GIVEN></N>",
        "<ADR><HOME/><PREF/><STREET>L\xC3\xA4mmerweg 12</STREET><LOCALITY>Kleindorf</LOCALITY>",
        "<LABEL><HOME/><PREF/><LINE>L\xC3\xA4mmerweg 12\r\n98765 Kleindorf</LINE></LABEL>"}},
      {"exports/ezvcard_John_Doe_ANDROID.vcf", 2,  // Android: UTF-8 in quoted-printable
       {"<N><FAMILY>\xC3\x91 \xC3\x91 \xC3\x91 \xC3\x91 </FAMILY></N>",
        "<TEL><NUMBER>123456789</NUMBER><CELL/><PREF/><VOICE/></TEL>"}},
      {"exports/ezvcard_John_Doe_ANDROID.vcf", 3,  // a soft break inside a name
       {"<FN>\xC3\x91 \xC3\x91 \xC3\x91 \xC3\x91 \xC3\x91 \xC3\x91 \xC3\x91 \xC3\x91 "
        "\xC3\x91 \xC3\x91 \xC3\x91</FN>"}},
      {"exports/ezvcard_John_Doe_IPHONE.vcf", 0,  // Apple: groups, TYPE=, escapes
       {"<EMAIL><USERID>john.doe@ibm.com</USERID><PREF/><INTERNET/></EMAIL>",
        "<TEL><NUMBER>905-555-1234</NUMBER><CELL/><VOICE/><PREF/></TEL>",
        "<TEL><NUMBER>905-888-1234</NUMBER><HOME/><FAX/></TEL>",
        "<ADR><WORK/><STREET>Street4\nBuilding 6\nFloor 8</STREET><LOCALITY>New York</LOCALITY>"}},
      {"exports/ezvcard_gmail-single2.vcf", 0,  // Google: TYPE= repeated, item groups
       {"<EMAIL><USERID>customcategory@example.com</USERID><INTERNET/></EMAIL>",
        "<TEL><NUMBER>5555551117</NUMBER><HOME/><FAX/></TEL>",
        "<TEL><NUMBER>5555551119</NUMBER><VOICE/></TEL>",
        "<ADR><HOME/><STREET>112 Main St</STREET><LOCALITY>NY</LOCALITY><REGION>New York</REGION>"}},
      {"exports/ical4j_vcard-antoni-outlook2003.vcf", 0,
       {"<N><FAMILY>Mylka</FAMILY><GIVEN>Antoni</GIVEN><MIDDLE>Jozef</MIDDLE><PREFIX>Herr</PREFIX>"
        "<SUFFIX>jun.</SUFFIX></N>",
        "<EMAIL><USERID>antoni_mylka@somedomain.com</USERID><PREF/><INTERNET/></EMAIL>",
        "<ADR><WORK/><EXTADR>3.10</EXTADR><STREET>Trippstadter Str. 122</STREET>",
        "Krak\xC3\xB3w"}},
      {"odd/fkvcards_ansi_German.vcf", 0,  // 8-bit bytes without CHARSET
       {"<FN>S\xC3\xB6ren T\xC3\xA4ve N\xC3\xBC\xC3\x9F" "lebaum</FN>",
        "<LABEL><INTL/><POSTAL/><PARCEL/><WORK/><LINE>M\xC3\xB6\xC3\x9Flitz</LINE></LABEL>"}},
      {"odd/fkvcards_v3Utf16Bom.vcf", 1,  // UTF-16 with byte-order mark
       {"<FN>KMS Au\xC3\x9F" "enstelle</FN>",
        "<EMAIL><USERID> blabl\xC3\xB6@blub.com</USERID><INTERNET/></EMAIL>",
        "<TEL><NUMBER>03443-303776</NUMBER><HOME/><VOICE/></TEL>"}},
      {"odd/qtversit_AAB4-SingleNonAscii_utf16be.vcf", 0,  // UTF-16 without mark
       {"<N><GIVEN>The only first name</GIVEN></N>",
        "<ADR><WORK/><PREF/><STREET>\xE3\x83\x8E\xE3\x82\xAD\xE3\x82\xA2</STREET></ADR>"}},
      {"vcard21/aosp-vcard_v21_japanese_2.vcf", 0,  // Shift_JIS
       {"<FN>\xE5\xAE\x89\xE8\x97\xA4 \xE3\x83\xAD\xE3\x82\xA4\xE3\x83\x89 1</FN>",
        "<ADR><HOME/><EXTADR>\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD",
        "<PCODE>150-8512</PCODE>"}},
      {"vcard30/kcontacts_vcardwithitemasapplesupport.vcf", 0,
       {"<TEL><NUMBER>(111) 111-1111</NUMBER><PREF/><VOICE/><WORK/></TEL>",
        "<ADR><WORK/><PREF/><STREET>STREET</STREET><LOCALITY>CITY</LOCALITY><REGION>STATE</REGION>"}},
      {"vcard40/ezvcard_rfc6350-example.vcf", 0,  // 4.0: quoted TYPE lists, folded ADR
       {"<TEL><NUMBER>tel:+1-418-262-6501</NUMBER><WORK/><CELL/><VOICE/><VIDEO/><TEXT/></TEL>",
        "<EMAIL><USERID>simon.perreault@viagenie.ca</USERID><WORK/></EMAIL>",
        "<STREET>2875 Laurier</STREET><LOCALITY>Quebec</LOCALITY><REGION>QC</REGION>"}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> records = RecordsOf(c.file);
    ASSERT_LT(c.record, records.size()) << c.file;
    for (const std::string& part : c.contains) {
      EXPECT_NE(std::string::npos, records[c.record].find(part))
          << c.file << " record " << c.record << " lacks " << part << "\n" << records[c.record];
    }
  }
}

}  // namespace
}  // namespace pelorin
