// The record mapping: the worked example and the edge cases of each rule.
#include "vcard/vcard_mapping.h"

#include <gtest/gtest.h>

#include "tests/vcard/vcard_test_util.h"

namespace pelorin {
namespace {

using test::Card;
using test::ConvertFirstCard;
using test::Record;

struct TLineCase {
  const char* line;
  const char* written;
};

// Every line alone in a 2.1 card; the record must hold exactly what it adds.
void ExpectEachLine(const std::vector<TLineCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(Record(c.written), ConvertFirstCard(Card(c.line))) << c.line;
  }
}

const std::vector<TLineCase> kWorkedExample = {
    {"VERSION:2.1", "<VERSION>2.1</VERSION>"},
    {"N:Smith;Ann;;Dr.", "<N><FAMILY>Smith</FAMILY><GIVEN>Ann</GIVEN><PREFIX>Dr.</PREFIX></N>"},
    {"FN:Dr. Ann Smith", "<FN>Dr. Ann Smith</FN>"},
    {"ORG:Example Ltd;Sales;Support",
     "<ORG><ORGNAME>Example Ltd</ORGNAME><ORGUNIT>Sales</ORGUNIT><ORGUNIT>Support</ORGUNIT></ORG>"},
    {"TEL;WORK;VOICE:+1 555 0100", "<TEL><NUMBER>+1 555 0100</NUMBER><WORK/><VOICE/></TEL>"},
    {"TEL;CELL:+1 555 0199", "<TEL><NUMBER>+1 555 0199</NUMBER><CELL/><VOICE/></TEL>"},
    {"EMAIL;PREF;INTERNET:x", "<EMAIL><USERID>x</USERID><PREF/><INTERNET/></EMAIL>"},
    {"ADR;WORK:;;1 Main St;Springfield;;12345;USA",
     "<ADR><WORK/><STREET>1 Main St</STREET><LOCALITY>Springfield</LOCALITY><PCODE>12345</PCODE>"
     "<CTRY>USA</CTRY></ADR>"},
    {"ADR:;;2 Side St;Town",
     "<ADR><INTL/><POSTAL/><PARCEL/><WORK/><STREET>2 Side St</STREET><LOCALITY>Town</LOCALITY>"
     "</ADR>"},
    {"LABEL;HOME:2 Side St", "<LABEL><HOME/><LINE>2 Side St</LINE></LABEL>"},
    {"NICKNAME:Annie,AS", "<NICKNAME>Annie</NICKNAME><NICKNAME>AS</NICKNAME>"},
    {"CATEGORIES:Clients,VIP",
     "<CATEGORIES><KEYWORD>Clients</KEYWORD><KEYWORD>VIP</KEYWORD></CATEGORIES>"},
    {"GEO:37.38;-122.08", "<GEO><LAT>37.38</LAT><LON>-122.08</LON></GEO>"},
    {"REV:2002-01-01T12:00:00Z", "<REV>2002-01-01T12:00:00Z</REV>"},
    {"CLASS:PUBLIC", "<CLASS><PUBLIC/></CLASS>"},
    {"PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQEASABIAAD\r\n"
     " /2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwgJC4n\r\n"
     " ICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/wAALCAABAAEBAREA\r\n",
     "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRof"
     "Hh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/wAALCAABAAEBAREA</BINVAL></PHOTO>"},
    {"X-CUSTOM:abc", "<PROP><NAME>X-CUSTOM</NAME><VALUE>abc</VALUE></PROP>"},
};

TEST(WorkedExampleTest, EachLineWritesItsElements) { ExpectEachLine(kWorkedExample); }

TEST(WorkedExampleTest, WholeCardKeepsLineOrder) {
  std::string body, written;
  for (const auto& c : kWorkedExample) {
    body += std::string(c.line) + "\r\n";
    written += c.written;
  }
  EXPECT_EQ(Record(written), ConvertFirstCard("BEGIN:VCARD\r\n" + body + "END:VCARD\r\n"));
}

TEST(SimpleMappingTest, TextEscapedAndEmptyAllowed) {
  ExpectEachLine({
      {"FN:", "<FN></FN>"},
      {"FN", "<FN></FN>"},
      {"NOTE:a<b", "<NOTE>a&lt;b</NOTE>"},
      {"SORT-STRING:Smith", "<SORTSTR>Smith</SORTSTR>"},
      {"TZ:-05:00", "<TZ>-05:00</TZ>"},  // only the first ":" ends the name
      {"MAILER:m", "<MAILER>m</MAILER>"},
      {"TITLE:t", "<TITLE>t</TITLE>"},
      {"ROLE:r", "<ROLE>r</ROLE>"},
      {"PRODID:p", "<PRODID>p</PRODID>"},
      {"URL:http://x/?a=1&b=2", "<URL>http://x/?a=1&amp;b=2</URL>"},
      {"UID:u", "<UID>u</UID>"},
      {"BDAY:2000-01-01", "<BDAY>2000-01-01</BDAY>"},
      // Values of a kind no page shows are kept whole in the generic shape.
      {"LOGO:x", "<LOGO><EXTVAL>x</EXTVAL></LOGO>"},  // a picture that is no data is a reference
      {"AGENT:x", "<PROP><NAME>AGENT</NAME><VALUE>x</VALUE></PROP>"},
      {"SOUND:x", "<SOUND><EXTVAL>x</EXTVAL></SOUND>"},
      {"KEY:x", "<PROP><NAME>KEY</NAME><VALUE>x</VALUE></PROP>"},  // a key of text
      {"KEY:https://k/x.asc", "<KEY><EXTVAL>https://k/x.asc</EXTVAL></KEY>"},
      {"LOGO:http://x/logo.png", "<LOGO><EXTVAL>http://x/logo.png</EXTVAL></LOGO>"},
  });
}

TEST(SimpleMappingTest, PropertiesAreNeverMerged) {
  EXPECT_EQ(Record("<TEL><NUMBER>1</NUMBER><VOICE/></TEL><FN>a</FN>"
                   "<TEL><NUMBER>2</NUMBER><VOICE/></TEL>"),
            ConvertFirstCard(Card("TEL:1\r\nFN:a\r\nTEL:2")));
}

TEST(NameMappingTest, FiveComponentsNonEmptyOnly) {
  ExpectEachLine({
      {"N:;;;", "<N></N>"},
      {"N:", "<N></N>"},
      {"N:A;B;C;D;E;F",
       "<N><FAMILY>A</FAMILY><GIVEN>B</GIVEN><MIDDLE>C</MIDDLE><PREFIX>D</PREFIX>"
       "<SUFFIX>E</SUFFIX></N>"},
      {"N:;;;;Jr.", "<N><SUFFIX>Jr.</SUFFIX></N>"},
      {"N:Smith", "<N><FAMILY>Smith</FAMILY></N>"},
  });
}

TEST(ListMappingTest, CommaPiecesAndEmptyLists) {
  ExpectEachLine({
      {"NICKNAME:,,", ""},
      {"NICKNAME:a;b", "<NICKNAME>a;b</NICKNAME>"},
      {"CATEGORIES:,,", "<CATEGORIES></CATEGORIES>"},
      {"CATEGORIES:", "<CATEGORIES></CATEGORIES>"},
      {"CATEGORIES:R&D", "<CATEGORIES><KEYWORD>R&amp;D</KEYWORD></CATEGORIES>"},
  });
}

// One unit per ";" component, as every writer means it; a comma is part of a
// unit's name ("Sales, Europe"), and empty units are left out.
TEST(OrgMappingTest, NameThenOneUnitPerComponent) {
  ExpectEachLine({
      {"ORG:Firm", "<ORG><ORGNAME>Firm</ORGNAME></ORG>"},
      {"ORG:;Dept", "<ORG><ORGNAME></ORGNAME><ORGUNIT>Dept</ORGUNIT></ORG>"},
      {"ORG:A;B;C", "<ORG><ORGNAME>A</ORGNAME><ORGUNIT>B</ORGUNIT><ORGUNIT>C</ORGUNIT></ORG>"},
      {"ORG:A;Sales, Europe", "<ORG><ORGNAME>A</ORGNAME><ORGUNIT>Sales, Europe</ORGUNIT></ORG>"},
      {"ORG:", "<ORG><ORGNAME></ORGNAME></ORG>"},
      {"ORG:A;;", "<ORG><ORGNAME>A</ORGNAME></ORG>"},
  });
}

TEST(GeoMappingTest, TwoComponentsAlwaysWritten) {
  ExpectEachLine({
      {"GEO:1.5,2.5", "<GEO><LAT>1.5</LAT><LON>2.5</LON></GEO>"},  // as older writers put it
      {"GEO:", "<GEO><LAT></LAT><LON></LON></GEO>"},
      // More than two components cannot be LAT and LON: kept whole instead.
      {"GEO:1;2;3", "<PROP><NAME>GEO</NAME><VALUE>1;2;3</VALUE></PROP>"},
  });
}

TEST(AdrMappingTest, MarkersDefaultAndSevenComponents) {
  ExpectEachLine({
      {"ADR:", "<ADR><INTL/><POSTAL/><PARCEL/><WORK/></ADR>"},
      {"ADR;HOME:a;b;c;d;e;f;g;h",
       "<ADR><HOME/><POBOX>a</POBOX><EXTADR>b</EXTADR><STREET>c</STREET><LOCALITY>d</LOCALITY>"
       "<REGION>e</REGION><PCODE>f</PCODE><CTRY>g</CTRY></ADR>"},
      {"ADR;DOM;X-ANY:;;s", "<ADR><DOM/><X-ANY/><STREET>s</STREET></ADR>"},  // no list of kinds
      {"adr;home;home:x", "<ADR><HOME/><HOME/><POBOX>x</POBOX></ADR>"},
  });
}

TEST(LabelMappingTest, WholeValueInOneLine) {
  ExpectEachLine({
      {"LABEL:", "<LABEL><INTL/><POSTAL/><PARCEL/><WORK/><LINE></LINE></LABEL>"},
      {"LABEL;WORK:a;b", "<LABEL><WORK/><LINE>a;b</LINE></LABEL>"},
  });
}

TEST(TelMappingTest, VoiceUnlessAKindIsGiven) {
  ExpectEachLine({
      {"TEL:1", "<TEL><NUMBER>1</NUMBER><VOICE/></TEL>"},
      {"TEL;PREF:1", "<TEL><NUMBER>1</NUMBER><PREF/><VOICE/></TEL>"},
      {"TEL;VOICE;VOICE:1", "<TEL><NUMBER>1</NUMBER><VOICE/><VOICE/></TEL>"},
      {"TEL;HOME;FAX:1", "<TEL><NUMBER>1</NUMBER><HOME/><FAX/></TEL>"},
      {"TEL;VIDEO:1", "<TEL><NUMBER>1</NUMBER><VIDEO/></TEL>"},
      {"TEL;PAGER:1", "<TEL><NUMBER>1</NUMBER><PAGER/></TEL>"},
      {"TEL;MODEM:1", "<TEL><NUMBER>1</NUMBER><MODEM/></TEL>"},
      {"TEL;FAXES:1", "<TEL><NUMBER>1</NUMBER><FAXES/><VOICE/></TEL>"},  // whole words only
      {"TEL;WORK:", "<TEL><NUMBER></NUMBER><WORK/><VOICE/></TEL>"},
  });
}

TEST(EmailMappingTest, PrefFirstThenEveryWord) {
  ExpectEachLine({
      {"EMAIL;INTERNET;PREF:x", "<EMAIL><USERID>x</USERID><PREF/><INTERNET/></EMAIL>"},
      {"EMAIL;AOL;INTERNET:x", "<EMAIL><USERID>x</USERID><AOL/><INTERNET/></EMAIL>"},
      {"EMAIL;INTERNET;HOME:x", "<EMAIL><USERID>x</USERID><INTERNET/><HOME/></EMAIL>"},
      {"EMAIL:x", "<EMAIL><USERID>x</USERID></EMAIL>"},
      {"EMAIL;PREF;PREF:x", "<EMAIL><USERID>x</USERID><PREF/><PREF/></EMAIL>"},
      {"EMAIL;X400:x", "<EMAIL><USERID>x</USERID><X400/></EMAIL>"},
  });
}

TEST(MappingOperationTest, CalledWithThePropertyText) {
  EXPECT_EQ("<TEL><NUMBER>1</NUMBER><CELL/><VOICE/></TEL>", MapTel("cell:1"));
  EXPECT_EQ("<EMAIL><USERID>a:b</USERID></EMAIL>", MapEmail(":a:b"));
  EXPECT_EQ("<ADR><INTL/><POSTAL/><PARCEL/><WORK/><STREET>s</STREET></ADR>", MapAdr(";;s"));
  EXPECT_EQ("<LABEL><HOME/><LINE>x</LINE></LABEL>", MapLabel("HOME:x"));
  EXPECT_EQ("<N><GIVEN>Ann</GIVEN></N>", MapN(";Ann"));
  EXPECT_EQ("<NICKNAME>a</NICKNAME>", MapNickname("a"));
  EXPECT_EQ("<CATEGORIES></CATEGORIES>", MapCategories(""));
  EXPECT_EQ("<ORG><ORGNAME>a</ORGNAME></ORG>", MapOrg("a"));
  EXPECT_EQ("<GEO><LAT>1</LAT><LON></LON></GEO>", MapGeo("1"));
  EXPECT_EQ("<FN>a&amp;b</FN>", MapSimple("FN", "a&b"));
  EXPECT_EQ("<CLASS><PRIVATE/></CLASS>", MapClass("PRIVATE"));
  // Words a store would refuse are left out before the rules look at them.
  EXPECT_EQ("<TEL><NUMBER>1</NUMBER><VOICE/></TEL>", MapTel("TYPE=FAX:1"));
  EXPECT_EQ("<ADR><INTL/><POSTAL/><PARCEL/><WORK/></ADR>", MapAdr("1ST:"));
  EXPECT_EQ("<EMAIL><USERID>x</USERID><INTERNET/></EMAIL>", MapEmail("A=B;INTERNET:x"));
}

}  // namespace
}  // namespace pelorin
