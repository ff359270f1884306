// The project's own test cards (tests/data/vcards/, made by make_test_cards.py
// there): each reproduces a quirk that real address programs write. Every
// record is well-formed UTF-8 XML, and hand-checked records say what the cards
// say.
#include <gtest/gtest.h>

#include <map>

#include "tests/vcard/vcard_test_util.h"

namespace pelorin {
namespace {

std::vector<std::string> RecordsOf(const std::string& file) {
  std::vector<std::string> records;
  for (const std::string& pass : test::PassesOfReader(test::ReadFile(test::TestCardsDir() + file))) {
    if (!pass.empty()) records.push_back(pass);
  }
  return records;
}

TEST(TestCardsTest, EveryFileGivesItsCardsAsWellFormedUtf8Records) {
  // An AGENT card nested in another is a card of its own.
  const std::map<std::string, int> expected_counts = {
      {"agent_nested.vcf", 3},        {"android21_qp_utf8.vcf", 2},
      {"apple30_groups.vcf", 1},      {"cp1252_nocharset21.vcf", 1},
      {"cr_only_lines.vcf", 2},       {"escapes_folding30.vcf", 1},
      {"five_contacts30.vcf", 5},     {"no_card.vcf", 0},
      {"outlook21_qp_cp1252.vcf", 1}, {"rfc6350_40.vcf", 1},
      {"shiftjis21.vcf", 2},          {"utf16be_nomark.vcf", 1},
      {"utf16le_bom.vcf", 1},         {"utf8_bom_lf.vcf", 2}};
  std::map<std::string, int> counts;
  for (const std::string& file : test::CardFilesIn(test::TestCardsDir())) {
    const std::vector<std::string> records = RecordsOf(file);
    for (const std::string& record : records) {
      EXPECT_EQ("", test::RecordProblem(record)) << file << "\n" << record;
    }
    counts[file] = static_cast<int>(records.size());
  }
  EXPECT_EQ(expected_counts, counts);
}

TEST(TestCardsTest, HandCheckedRecords) {
  const struct {
    const char* file;
    std::size_t record;
    std::vector<std::string> contains;
  } cases[] = {
      {"outlook21_qp_cp1252.vcf", 0,  // quoted-printable Windows-1252, soft breaks
       {"<N><FAMILY>M\xC3\xBCller</FAMILY><GIVEN>J\xC3\xBCrgen</GIVEN><PREFIX>Dr.</PREFIX></N>",
        "<FN>Dr. J\xC3\xBCrgen M\xC3\xBCller</FN>",
        "<ORG><ORGNAME>B\xC3\xA4" "ckerei Sch\xC3\xB6n</ORGNAME><ORGUNIT>Vertrieb</ORGUNIT></ORG>",
        "<TITLE>Gesch\xC3\xA4" "ftsf\xC3\xBChrer</TITLE>",
        "<TEL><NUMBER>+49 30 7654321</NUMBER><HOME/><FAX/></TEL>",
        "<ADR><WORK/><PREF/><STREET>Stra\xC3\x9F" "e des 17. Juni 5</STREET><LOCALITY>Berlin</LOCALITY>"
        "<PCODE>10623</PCODE><CTRY>Deutschland</CTRY></ADR>",
        "<LABEL><WORK/><PREF/><LINE>Stra\xC3\x9F" "e des 17. Juni 5\r\n10623 Berlin</LINE></LABEL>",
        "<EMAIL><USERID>juergen.mueller@example.de</USERID><PREF/><INTERNET/></EMAIL>",
        "<REV>20240117T101500Z</REV>"}},
      {"android21_qp_utf8.vcf", 0,  // UTF-8 quoted-printable, a photo in base64
       {"<N><FAMILY>\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xB0</FAMILY>"
        "<GIVEN>\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0</GIVEN></N>",
        "<TEL><NUMBER>+7 495 123-45-67</NUMBER><CELL/><PREF/><VOICE/></TEL>",
        "<EMAIL><USERID>anna.ivanova@example.ru</USERID><HOME/></EMAIL>"}},
      {"android21_qp_utf8.vcf", 1,  // the card after the photo's blank line
       {"<FN>Piotr Kowalski \xC5\x81\xC3\xB3" "d\xC5\xBA</FN>",
        "<TEL><NUMBER>+48 42 555 01 02</NUMBER><WORK/><VOICE/></TEL>"}},
      {"utf16le_bom.vcf", 0,
       {"<N><FAMILY>Wei\xC3\x9F</FAMILY><GIVEN>Gr\xC3\xA9goire</GIVEN></N>",
        "<EMAIL><USERID>gregoire@example.fr</USERID><INTERNET/></EMAIL>",
        "<TEL><NUMBER>+33 1 23 45 67 89</NUMBER><HOME/><VOICE/></TEL>"}},
      {"utf16be_nomark.vcf", 0,
       {"<N><GIVEN>Only a given name</GIVEN></N>",
        "<ADR><WORK/><PREF/><STREET>\xE4\xB8\xAD\xE5\xB1\xB1\xE8\xB7\xAF 8</STREET>"
        "<LOCALITY>\xE4\xB8\x8A\xE6\xB5\xB7</LOCALITY></ADR>"}},
      {"shiftjis21.vcf", 0,  // Shift_JIS named by CHARSET
       {"<N><FAMILY>\xE7\x94\xB0\xE4\xB8\xAD</FAMILY><GIVEN>\xE8\x8A\xB1\xE5\xAD\x90</GIVEN></N>",
        "<ADR><HOME/><STREET>\xE9\x8A\x80\xE5\xBA\xA7 4-5-6</STREET>"
        "<LOCALITY>\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD</LOCALITY><PCODE>104-0061</PCODE></ADR>"}},
      {"shiftjis21.vcf", 1,  // no CHARSET: the bytes are read as Windows-1252
       {"<TEL><NUMBER>03-5555-0101</NUMBER><HOME/><VOICE/></TEL>"}},
      {"cp1252_nocharset21.vcf", 0,  // 8-bit bytes without CHARSET
       {"<N><FAMILY>N\xC3\xBC\xC3\x9Flein</FAMILY><GIVEN>S\xC3\xB6ren</GIVEN></N>",
        "<ORGNAME>Caf\xC3\xA9 \xE2\x80\x9EZur Linde\xE2\x80\x9C</ORGNAME>",
        "<NOTE>Rechnung \xC3\xBC" "ber 20 \xE2\x82\xAC</NOTE>",
        "<LABEL><WORK/><POSTAL/><LINE>Bahnhofstra\xC3\x9F" "e 3</LINE></LABEL>"}},
      {"apple30_groups.vcf", 0,  // item groups, TYPE repeated, escapes, a photo
       {"<N><FAMILY>Appleseed</FAMILY><GIVEN>Jane</GIVEN><MIDDLE>Q.</MIDDLE></N>",
        "<ORG><ORGNAME>Orchard Ltd.</ORGNAME><ORGUNIT>R&amp;D</ORGUNIT></ORG>",
        "<EMAIL><USERID>jane@example.com</USERID><PREF/><INTERNET/></EMAIL>",
        "<TEL><NUMBER>(555) 010-2000</NUMBER><CELL/><VOICE/><PREF/></TEL>",
        "<TEL><NUMBER>(555) 010-3000</NUMBER><HOME/><FAX/></TEL>",
        "<ADR><HOME/><PREF/><STREET>1 Infinite Loop\nBuilding 2</STREET><LOCALITY>Cupertino</LOCALITY>"
        "<REGION>CA</REGION><PCODE>95014</PCODE><CTRY>USA</CTRY></ADR>",
        "<NOTE>Met at the fair, row 3; table 12.\nCall after 5.</NOTE>"}},
      {"escapes_folding30.vcf", 0,  // 3.0 escapes, folds with a blank and a tab
       {"<N><FAMILY>O;Brien</FAMILY><GIVEN>Se\xC3\xA1n</GIVEN></N>",
        "<ORGUNIT>Legal; Tax</ORGUNIT>",
        "<NOTE>First line\nsecond line with a backslash \\ and a comma , and a semicolon ; in the "
        "middle of a folded value</NOTE>",
        "<TITLE>Senior Partner</TITLE>",
        "<CATEGORIES><KEYWORD>Clients</KEYWORD><KEYWORD>Dublin,Ireland</KEYWORD></CATEGORIES>"}},
      {"rfc6350_40.vcf", 0,  // 4.0: quoted TYPE lists, tel: URIs, a fold keeping one blank
       {"<VERSION>4.0</VERSION>",
        "<N><FAMILY>Fontaine</FAMILY><GIVEN>Ana\xC3\xAFs</GIVEN><SUFFIX>ing. jr.,M.Sc.</SUFFIX></N>",
        "<TEL><NUMBER>tel:+33-1-42-68-53-00;ext=102</NUMBER><WORK/><VOICE/><PREF/></TEL>",
        "<EMAIL><USERID>anais.fontaine@lumiere.example</USERID><WORK/></EMAIL>",
        "<ADR><WORK/><STREET>12 rue de la Paix</STREET><LOCALITY>Paris</LOCALITY><PCODE>75002</PCODE>"
        "<CTRY>France</CTRY></ADR>",
        "<URL>https://lumiere.example/</URL>"}},
      {"agent_nested.vcf", 0,  // the outer card keeps what follows the nested one
       {"<N><FAMILY>Boss</FAMILY><GIVEN>Big</GIVEN></N>",
        "<TEL><NUMBER>+1 555 0100</NUMBER><WORK/><VOICE/></TEL>",
        "<EMAIL><USERID>boss@example.com</USERID><INTERNET/></EMAIL>"}},
      {"agent_nested.vcf", 1,  // the nested card is the assistant's own
       {"<N><FAMILY>Assistant</FAMILY><GIVEN>Amy</GIVEN></N>",
        "<TEL><NUMBER>+1 555 0101</NUMBER><WORK/><VOICE/></TEL>"}},
      {"agent_nested.vcf", 2,  // the card after them is read on its own
       {"<N><FAMILY>Chief</FAMILY><GIVEN>Carla</GIVEN></N>",
        "<TEL><NUMBER>+1 555 0103</NUMBER><WORK/><VOICE/></TEL>"}},
      {"utf8_bom_lf.vcf", 0,  // a byte-order mark, LF line ends
       {"<N><FAMILY>\xCE\x91\xCE\xB8\xCE\xB1\xCE\xBD\xCE\xB1\xCF\x83\xCE\xAF\xCE\xBF\xCF\x85</FAMILY>"}},
      {"utf8_bom_lf.vcf", 1,  // a second mark before the second card
       {"<N><FAMILY>Nov\xC3\xA1k</FAMILY><GIVEN>Ji\xC5\x99\xC3\xAD</GIVEN></N>",
        "<EMAIL><USERID>jiri.novak@example.cz</USERID></EMAIL>"}},
      {"cr_only_lines.vcf", 0,  // CR alone ends each line
       {"<N><FAMILY>Macintosh</FAMILY><GIVEN>Mary</GIVEN></N>",
        "<ADR><WORK/><STREET>1 Loop Road</STREET><LOCALITY>Cupertino</LOCALITY><REGION>CA</REGION>"
        "<PCODE>95014</PCODE></ADR>"}},
      {"cr_only_lines.vcf", 1, {"<FN>Second Card</FN>"}},
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
