// export.vcf: vCard 2.1 text of the user's own cards that the service's own
// import reads back to the same records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/page_renderer.h"
#include "vcard/vcard_upload_reader.h"

namespace pelorin::testing {
namespace {

// The body as the server sends it: narrowed to ISO-8859-1.
std::string Export(const std::string& store, const std::string& user = "alice") {
  TPageRenderer renderer;
  const TRendered r = renderer.Render("pelorin/export.vcf", store, {}, user);
  EXPECT_EQ("", r.errors);
  return NarrowToLatin1(r.output);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    EXPECT_NE(std::string::npos, end) << "every line ends with CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// One card's record with the parts the import gives anew left out, as
// canonical text.
std::string Canonical(const std::string& card_xml) {
  TTempDir dir;
  WriteFile(dir.File("c.xml"), card_xml);
  TQuickDom dom;
  EXPECT_EQ(0, dom.LoadFromFile(dir.File("c.xml"))) << card_xml;
  while (dom.SelectNode("/vCard/OWNER | /vCard/ID | /vCard/VERSION")) dom.RemoveCurrent();
  std::string saved = dom.SaveToString();
  return saved.substr(saved.find("<vCard"));
}

std::vector<std::string> Import(const std::string& vcf) {
  std::vector<std::string> records;
  TvCardUploadReader reader(vcf);
  std::string card_xml;
  while (reader.NextPass(card_xml)) {
    if (!card_xml.empty()) records.push_back(card_xml);
  }
  return records;
}

TEST(Export, WritesEveryPartOfTheFullCard) {
  const std::string text = Export(FixtureText("cards.xml"));
  const std::vector<std::string> lines = Lines(text);
  const std::vector<std::string>& card100 = lines;
  for (const char* expected : {
           "N:Smith;Ann;Beth;Dr.;PhD",
           "FN:Dr. Ann Beth Smith PhD",
           "NICKNAME:Annie",
           "NICKNAME:AS",
           "BDAY:1970-04-01",
           "ADR;WORK;PREF:PB 7;Building C;1 Main St;Springfield;Oregon;12345;USA",
           "ADR;HOME:;;2 Side St;Shelbyville;;;",
           "LABEL;HOME:2 Side St, Shelbyville",
           "TEL;WORK;VOICE:+1 555 0100",
           "TEL;CELL;VOICE:+1 555 0199",
           "TEL;HOME;FAX:+1 555 0150",
           "EMAIL;PREF;INTERNET:ann@example.com",
           "EMAIL;X400:ann.smith@example.org",
           "MAILER:Mailer 3",
           "TZ:-05:00",
           "GEO:37.386013;-122.082932",
           "TITLE:Director",
           "ROLE:Sales Manager",
           "ORG:Example Ltd;Sales;Support",
           "CATEGORIES:Clients,VIP",
           "NOTE;ENCODING=QUOTED-PRINTABLE:First line=0D=0ASecond line with =3D sign",
           "PRODID:-//Example//Addressbook 1.0//EN",
           "REV:2002-01-01T12:00:00Z",
           "SORT-STRING:Smith Ann",
           "URL:http://www.example.com/ann",
           "UID:uid-ann-0001",
           "CLASS:PUBLIC",
       }) {
    EXPECT_NE(card100.end(), std::find(card100.begin(), card100.end(), expected)) << expected;
  }
}

TEST(Export, EachCardIsOneBlockWithVersion21) {
  const std::vector<std::string> lines = Lines(Export(FixtureText("cards.xml")));
  int begins = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "BEGIN:VCARD") {
      ++begins;
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ("VERSION:2.1", lines[i + 1]);
    }
  }
  EXPECT_EQ(5, begins);
  EXPECT_EQ("END:VCARD", lines.back());
  int versions = 0;
  for (const std::string& line : lines) versions += line.rfind("VERSION:", 0) == 0 ? 1 : 0;
  EXPECT_EQ(5, versions) << "the card's own VERSION element is not written twice";
}

TEST(Export, OnlyTheUsersOwnCards) {
  const std::string store = FixtureText("cards.xml");
  EXPECT_EQ(std::string::npos, Export(store, "alice").find("secret@bob.example"));
  EXPECT_NE(std::string::npos, Export(store, "bob").find("EMAIL;INTERNET:secret@bob.example"));
  EXPECT_EQ(std::string::npos, Export(store, "bob").find("Smith"));
  EXPECT_EQ("", Export(store, "carol"));
}

// Every letter survives: quoted-printable over the UTF-8 bytes, never "?".
TEST(Export, LettersBeyondAsciiAreQuotedPrintableInUtf8) {
  const std::string store =
      "<xBase><vCard><N><FAMILY>M\xC3\xBCller</FAMILY><GIVEN>J\xC3\xBCrgen</GIVEN></N>"
      "<FN>J\xC3\xBCrgen M\xC3\xBCller</FN><TITLE>\xCE\xA9 chief</TITLE><ROLE>plain</ROLE>"
      "<NOTE>x=1 </NOTE><OWNER>alice</OWNER><ID>1</ID></vCard></xBase>";
  const std::vector<std::string> lines = Lines(Export(store));
  const std::vector<std::string> expected = {
      "BEGIN:VCARD",
      "VERSION:2.1",
      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;;",
      "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=BCrgen M=C3=BCller",
      "TITLE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=CE=A9 chief",
      "ROLE:plain",
      "NOTE:x=1 ",
      "END:VCARD",
  };
  EXPECT_EQ(expected, lines);
}

TEST(Export, SemicolonsInsideNameAndAddressPartsAreEscaped) {
  const std::string store =
      "<xBase><vCard><N><FAMILY>a;b</FAMILY></N><ADR><HOME/><STREET>c;d</STREET></ADR>"
      "<OWNER>alice</OWNER><ID>1</ID></vCard></xBase>";
  const std::vector<std::string> lines = Lines(Export(store));
  EXPECT_EQ("N:a\\;b;;;;", lines.at(2));
  EXPECT_EQ("ADR;HOME:;;c\\;d;;;;", lines.at(3));
}

TEST(Export, LongValuesOfManyBreaksDoNotExhaustTheProcessor) {
  std::string note;
  for (int i = 0; i < 4000; ++i) note += "=\n\xC3\xA4";
  const std::string store = "<xBase><vCard><NOTE>" + note + "</NOTE><OWNER>alice</OWNER><ID>1</ID></vCard></xBase>";
  const std::vector<std::string> lines = Lines(Export(store));
  ASSERT_EQ(4u, lines.size());
  std::string expected = "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
  for (int i = 0; i < 4000; ++i) expected += "=3D=0D=0A=C3=A4";
  EXPECT_EQ(expected, lines[2]);
}

// The export read back by the service's own import gives the same records.
TEST(Export, ImportReadsBackTheSameRecords) {
  const std::string store =
      "<xBase>" +
      FixtureText("cards.xml").substr(FixtureText("cards.xml").find("<vCard>"),
                                      FixtureText("cards.xml").find("</vCard>") + 8 -
                                          FixtureText("cards.xml").find("<vCard>")) +
      "<vCard><N><FAMILY>M\xC3\xBCller</FAMILY><GIVEN>Zo\xC3\xAB</GIVEN></N><FN>Zo\xC3\xAB M\xC3\xBCller</FN>"
      "<ADR><HOME/><STREET>Stra\xC3\x9F" "e 1\nHinterhaus</STREET><LOCALITY>K\xC3\xB6ln</LOCALITY></ADR>"
      "<NOTE>Tab\there, equals = and trailing blank </NOTE>"
      "<EMAIL><USERID>z@example.de</USERID><PREF/><INTERNET/></EMAIL>"
      "<TEL><NUMBER>+49 221 1</NUMBER><PREF/><CELL/><VOICE/></TEL>"
      "<CATEGORIES><KEYWORD>Fr\xC3\xBCnde</KEYWORD></CATEGORIES>"
      "<OWNER>alice</OWNER><ID>2</ID></vCard>"
      "<vCard><FN>Only a name</FN><OWNER>alice</OWNER><ID>3</ID></vCard>"
      // Everything a record keeps beyond the mapped elements.
      "<vCard><FN>Pat Kept-Whole</FN><PARAMS><PARAM><NAME>LANGUAGE</NAME><VALUE>de</VALUE></PARAM></PARAMS>"
      "<TEL><NUMBER>+41 1</NUMBER><PREF/><CELL/><VOICE/></TEL>"
      "<PARAMS><GROUP>item1</GROUP><PARAM><NAME>PREF</NAME><VALUE>1</VALUE></PARAM></PARAMS>"
      "<PROP><NAME>X-ABLabel</NAME><GROUP>item1</GROUP><VALUE>_$!&lt;Mobile&gt;!$_</VALUE></PROP>"
      "<PHOTO><TYPE>image/png</TYPE><BINVAL>iVBORw0KGgoAAAANSUhEUg==</BINVAL></PHOTO>"
      "<PROP><NAME>X-SOCIALPROFILE</NAME><PARAM><NAME>TYPE</NAME><VALUE>twitter</VALUE></PARAM>"
      "<VALUE>https://x.example/a\\,b \xE2\x82\xAC</VALUE></PROP>"
      "<URL>https://example.com/</URL><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>WORK</VALUE></PARAM></PARAMS>"
      "<ADR><HOME/><STREET>S</STREET></ADR><PARAMS><PARAM><NAME>LABEL</NAME><VALUE>S, T</VALUE></PARAM></PARAMS>"
      "<OWNER>alice</OWNER><ID>4</ID></vCard>"
      "</xBase>";
  const std::vector<std::string> records = Import(Export(store));
  ASSERT_EQ(4u, records.size());
  // The export sorts by family name: M\xC3\xBCller, Only a name, Pat..., Smith.
  const std::vector<std::string> originals_ids = {"2", "3", "4", "100"};
  for (size_t i = 0; i < records.size(); ++i) {
    TTempDir dir;
    WriteFile(dir.File("s.xml"), store);
    TQuickDom dom;
    ASSERT_EQ(0, dom.LoadFromFile(dir.File("s.xml")));
    // Keep only the original card with this identifier, then compare.
    while (dom.SelectNode("/xBase/vCard[ID!='" + originals_ids[i] + "']")) dom.RemoveCurrent();
    std::string original = dom.SaveToString();
    original = original.substr(original.find("<vCard>"));
    original = original.substr(0, original.find("</vCard>") + 8);
    EXPECT_NE(std::string::npos, Canonical(original).find("<FN>"));
    EXPECT_EQ(Canonical(original), Canonical(records[i])) << records[i];
  }
}

}  // namespace
}  // namespace pelorin::testing
