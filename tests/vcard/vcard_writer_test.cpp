// The vCard writer: each mapped property in both versions, markers, PARAMS,
// PROP, what is never written, the required properties, folding and bad
// UTF-8, and cards read back by the project's own reader.
#include "vcard/vcard_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/vcard/vcard_test_util.h"
#include "vcard/line_folding.h"
#include "vcard/utf8_repair.h"
#include "xml/record_tree.h"

namespace pelorin {
namespace {

constexpr TvCardVersion k30 = TvCardVersion::k30;
constexpr TvCardVersion k40 = TvCardVersion::k40;

TRecordElement Parsed(std::string_view xml) {
  std::optional<TRecordElement> tree = RecordTreeFromXml(xml);
  EXPECT_TRUE(tree.has_value()) << xml;
  return tree.value_or(TRecordElement{});
}

std::string WriteRecord(std::string_view inner, TvCardVersion version,
                        const TWriteDefaults& defaults = {}) {
  return WriteVCard(Parsed(test::Record(inner)), version, defaults);
}

std::vector<std::string> PhysicalLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    if (end == std::string_view::npos) {
      lines.emplace_back(std::string(text) + "<no CR LF>");
      break;
    }
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 2);
  }
  return lines;
}

// The content lines of a written card, continuation lines joined back on.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  for (const std::string& line : PhysicalLines(text)) {
    if (!line.empty() && line.front() == ' ' && !lines.empty()) {
      lines.back() += line.substr(1);
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

std::string VersionLine(TvCardVersion version) {
  return version == k30 ? "VERSION:3.0" : "VERSION:4.0";
}

// The lines an element adds to a card that has its own FN and N (so the
// writer adds none) and no defaults (so it adds no UID or REV).
std::vector<std::string> LinesOf(std::string_view inner, TvCardVersion version) {
  const std::string written =
      WriteRecord("<FN>F</FN><N><FAMILY>S</FAMILY></N>" + std::string(inner), version);
  std::vector<std::string> lines = LogicalLines(written);
  const std::vector<std::string> frame = {"BEGIN:VCARD", VersionLine(version), "FN:F", "N:S;;;;"};
  if (lines.size() < frame.size() + 1 || !std::equal(frame.begin(), frame.end(), lines.begin()) ||
      lines.back() != "END:VCARD") {
    ADD_FAILURE() << "not framed as expected:\n" << written;
    return {};
  }
  return {lines.begin() + static_cast<std::ptrdiff_t>(frame.size()), lines.end() - 1};
}

using TLines = std::vector<std::string>;

struct TPropertyCase {
  const char* inner;
  TLines v30;
  TLines v40;
};

void ExpectCases(const std::vector<TPropertyCase>& cases) {
  for (const TPropertyCase& c : cases) {
    EXPECT_EQ(c.v30, LinesOf(c.inner, k30)) << "3.0: " << c.inner;
    EXPECT_EQ(c.v40, LinesOf(c.inner, k40)) << "4.0: " << c.inner;
  }
}

TEST(WriteVCardTest, FramesTheCardVersionFirst) {
  EXPECT_EQ("BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:Ann\r\nEND:VCARD\r\n",
            WriteRecord("<FN>Ann</FN>", k30));
  EXPECT_EQ("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann\r\nEND:VCARD\r\n",
            WriteRecord("<FN>Ann</FN>", k40));
}

TEST(WriteVCardTest, TextPropertiesEscapeBackslashLineBreaksCommasAndSemicolons) {
  ExpectCases({
      {"<NOTE>a,b;c\\d\ne:f</NOTE>", {"NOTE:a\\,b\\;c\\\\d\\ne:f"}, {"NOTE:a\\,b\\;c\\\\d\\ne:f"}},
      {"<NOTE>line1&#13;\nline2&#13;line3</NOTE>", {"NOTE:line1\\nline2\\nline3"},
       {"NOTE:line1\\nline2\\nline3"}},
      {"<TITLE>Head, R&amp;D</TITLE>", {"TITLE:Head\\, R&D"}, {"TITLE:Head\\, R&D"}},
      {"<ROLE>a;b</ROLE>", {"ROLE:a\\;b"}, {"ROLE:a\\;b"}},
      {"<MAILER>M 1.0</MAILER>", {"MAILER:M 1.0"}, {"MAILER:M 1.0"}},
      {"<TZ>-05:00</TZ>", {"TZ:-05:00"}, {"TZ:-05:00"}},
      {"<PRODID>-//X//Y//EN</PRODID>", {"PRODID:-//X//Y//EN"}, {"PRODID:-//X//Y//EN"}},
      {"<SORTSTR>Smith</SORTSTR>", {"SORT-STRING:Smith"}, {"SORT-STRING:Smith"}},
      {"<NICKNAME>Annie</NICKNAME><NICKNAME>A, S</NICKNAME>", {"NICKNAME:Annie", "NICKNAME:A\\, S"},
       {"NICKNAME:Annie", "NICKNAME:A\\, S"}},
      {"<NOTE/>", {"NOTE:"}, {"NOTE:"}},
  });
}

TEST(WriteVCardTest, LinksDatesAndIdentifiersKeepTheirSeparators) {
  ExpectCases({
      {"<URL>http://x.example/a,b;c</URL>", {"URL:http://x.example/a,b;c"},
       {"URL:http://x.example/a,b;c"}},
      {"<BDAY>1990-01-02</BDAY>", {"BDAY:1990-01-02"}, {"BDAY:1990-01-02"}},
      {"<REV>2024-05-06T07:08:09Z</REV>", {"REV:2024-05-06T07:08:09Z"}, {"REV:2024-05-06T07:08:09Z"}},
      {"<UID>urn:uuid:a;b,c</UID>", {"UID:urn:uuid:a;b,c"}, {"UID:urn:uuid:a;b,c"}},
      {"<URL>a\\b\nc</URL>", {"URL:a\\\\b\\nc"}, {"URL:a\\\\b\\nc"}},
  });
}

TEST(WriteVCardTest, StructuredValuesEscapeEachComponent) {
  ExpectCases({
      {"<N><FAMILY>O'Neil;Jr</FAMILY><GIVEN>Ann, Marie</GIVEN><SUFFIX>III</SUFFIX></N>",
       // A comma in N is escaped: the text comes back whole in every program.
       {"N:O'Neil\\;Jr;Ann\\, Marie;;;III"}, {"N:O'Neil\\;Jr;Ann\\, Marie;;;III"}},
      {"<N><PREFIX>Dr.</PREFIX></N>", {"N:;;;Dr.;"}, {"N:;;;Dr.;"}},
      {"<ADR><WORK/><PREF/><POBOX>7</POBOX><STREET>1 Main St, Apt 2</STREET>"
       "<LOCALITY>Town</LOCALITY><PCODE>123</PCODE><CTRY>USA</CTRY></ADR>",
       {"ADR;TYPE=WORK,PREF:7;;1 Main St\\, Apt 2;Town;;123;USA"},
       {"ADR;TYPE=work,pref:7;;1 Main St\\, Apt 2;Town;;123;USA"}},
      // 3.0 writes the types it implies, so that a second export is the same bytes.
      {"<ADR><EXTADR>Suite 5</EXTADR><REGION>CA</REGION></ADR>", {"ADR;TYPE=INTL,POSTAL,PARCEL,WORK:;Suite 5;;;CA;;"},
       {"ADR:;Suite 5;;;CA;;"}},
      {"<ORG><ORGNAME>Ex, Ltd</ORGNAME><ORGUNIT>Sales</ORGUNIT><ORGUNIT>EMEA;North</ORGUNIT></ORG>",
       {"ORG:Ex\\, Ltd;Sales;EMEA\\;North"}, {"ORG:Ex\\, Ltd;Sales;EMEA\\;North"}},
      {"<ORG><ORGNAME>Solo</ORGNAME></ORG>", {"ORG:Solo"}, {"ORG:Solo"}},
      {"<CATEGORIES><KEYWORD>A,B</KEYWORD><KEYWORD>C;D</KEYWORD></CATEGORIES>",
       {"CATEGORIES:A\\,B,C\\;D"}, {"CATEGORIES:A\\,B,C\\;D"}},
      {"<GEO><LAT>37.38</LAT><LON>-122.08</LON></GEO>", {"GEO:37.38;-122.08"},
       {"GEO:geo:37.38,-122.08"}},
      {"<GEO/>", {}, {}},  // no coordinates: nothing to say
      {"<CLASS><CONFIDENTIAL/></CLASS>", {"CLASS:CONFIDENTIAL"}, {"CLASS:CONFIDENTIAL"}},
  });
}

TEST(WriteVCardTest, MarkersBecomeTypeValuesUpperIn30LowerIn40) {
  ExpectCases({
      {"<TEL><NUMBER>+1 555 0100</NUMBER><CELL/><VOICE/></TEL>", {"TEL;TYPE=CELL,VOICE:+1 555 0100"},
       {"TEL;TYPE=cell,voice:+1 555 0100"}},
      {"<TEL><NUMBER>1</NUMBER></TEL>", {"TEL;TYPE=VOICE:1"}, {"TEL:1"}},
      {"<TEL><HOME/><NUMBER>1</NUMBER><x-Odd/></TEL>", {"TEL;TYPE=HOME,X-ODD,VOICE:1"},
       {"TEL;TYPE=home,x-odd:1"}},
      {"<EMAIL><USERID>a@x.example</USERID><PREF/><INTERNET/></EMAIL>",
       {"EMAIL;TYPE=PREF,INTERNET:a@x.example"}, {"EMAIL;TYPE=pref,internet:a@x.example"}},
      {"<LABEL><HOME/><LINE>1 Main St\nTown</LINE></LABEL>", {"LABEL;TYPE=HOME:1 Main St\\nTown"},
       {"LABEL;TYPE=home:1 Main St\\nTown"}},
      {"<ADR><INTL/><POSTAL/><PARCEL/><WORK/><STREET>S</STREET></ADR>",
       {"ADR;TYPE=INTL,POSTAL,PARCEL,WORK:;;S;;;;"}, {"ADR;TYPE=intl,postal,parcel,work:;;S;;;;"}},
  });
}

TEST(WriteVCardTest, ParamsMergeIntoTheElementBeforeThem) {
  ExpectCases({
      {"<URL>https://x.example/</URL><PARAMS><GROUP>item1</GROUP><PARAM><NAME>TYPE</NAME>"
       "<VALUE>WORK</VALUE></PARAM></PARAMS>",
       {"item1.URL;TYPE=WORK:https://x.example/"}, {"item1.URL;TYPE=WORK:https://x.example/"}},
      // After the markers' TYPE; each value quoted on its own where it must be.
      {"<TEL><NUMBER>1</NUMBER><CELL/></TEL><PARAMS><PARAM><NAME>X-SERVICE</NAME>"
       "<VALUE>a:b</VALUE><VALUE>c</VALUE><VALUE>d;e,f</VALUE></PARAM><PARAM><NAME>TYPE</NAME>"
       "<VALUE>x y</VALUE></PARAM></PARAMS>",
       {"TEL;TYPE=CELL,VOICE;X-SERVICE=\"a:b\",c,\"d;e,f\";TYPE=x y:1"},
       {"TEL;TYPE=cell;X-SERVICE=\"a:b\",c,\"d;e,f\";TYPE=x y:1"}},
      {"<NOTE>n</NOTE><PARAMS><PARAM><NAME>X-Q</NAME><VALUE>say \"hi\" ^ \nnow</VALUE></PARAM>"
       "</PARAMS>",
       {"NOTE;X-Q=say hi ^  now:n"}, {"NOTE;X-Q=say ^'hi^' ^^ ^nnow:n"}},
      {"<ORG><ORGNAME>O</ORGNAME></ORG><PARAMS><GROUP>g</GROUP><PARAM><NAME>X-EMPTY</NAME></PARAM>"
       "</PARAMS>",
       {"g.ORG;X-EMPTY=:O"}, {"g.ORG;X-EMPTY=:O"}},
      // A group that cannot be written is left out, the property is not.
      {"<TITLE>T</TITLE><PARAMS><GROUP>a.b</GROUP></PARAMS>", {"TITLE:T"}, {"TITLE:T"}},
  });
}

TEST(WriteVCardTest, ParamsBelongOnlyToTheMappedElementRightBeforeThem) {
  EXPECT_EQ("BEGIN:VCARD\r\nVERSION:4.0\r\nNOTE:a\r\nFN:F\r\nEND:VCARD\r\n",
            WriteRecord("<PARAMS><GROUP>g</GROUP></PARAMS><NOTE>a</NOTE><FN>F</FN>", k40));
  ExpectCases({
      {"<NOTE>a</NOTE><PARAMS><GROUP>g</GROUP></PARAMS><NOTE>b</NOTE>", {"g.NOTE:a", "NOTE:b"},
       {"g.NOTE:a", "NOTE:b"}},
      {"<ID>7</ID><PARAMS><GROUP>g</GROUP></PARAMS><NOTE>a</NOTE>", {"NOTE:a"}, {"NOTE:a"}},
      {"<PROP><NAME>X-A</NAME><VALUE>1</VALUE></PROP><PARAMS><GROUP>g</GROUP></PARAMS>", {"X-A:1"},
       {"X-A:1"}},
      {"<NOTE>a</NOTE><PARAMS><GROUP>g</GROUP></PARAMS><PARAMS><GROUP>h</GROUP></PARAMS>",
       {"g.NOTE:a"}, {"g.NOTE:a"}},
  });
}

TEST(WriteVCardTest, PropIsWrittenAsStored) {
  ExpectCases({
      {"<PROP><NAME>X-ABLabel</NAME><GROUP>item1</GROUP><PARAM><NAME>TYPE</NAME><VALUE>pref</VALUE>"
       "</PARAM><VALUE>_$!&lt;HomePage&gt;!$_</VALUE></PROP>",
       {"item1.X-ABLabel;TYPE=pref:_$!<HomePage>!$_"}, {"item1.X-ABLabel;TYPE=pref:_$!<HomePage>!$_"}},
      // The value's escapes stay as they are; a real line break becomes one.
      {"<PROP><NAME>X-NOTE</NAME><VALUE>a\\,b;c\\\\d\\ne\nf</VALUE></PROP>",
       {"X-NOTE:a\\,b;c\\\\d\\ne\\nf"}, {"X-NOTE:a\\,b;c\\\\d\\ne\\nf"}},
      {"<PROP><NAME>IMPP</NAME><PARAM><NAME>X-LABEL</NAME><VALUE>work;chat</VALUE>"
       "<VALUE>\"me\"</VALUE></PARAM><PARAM><NAME>PREF</NAME><VALUE>1</VALUE></PARAM>"
       "<VALUE>xmpp:a@x.example</VALUE></PROP>",
       {"IMPP;X-LABEL=\"work;chat\",me;PREF=1:xmpp:a@x.example"},
       {"IMPP;X-LABEL=\"work;chat\",^'me^';PREF=1:xmpp:a@x.example"}},
      {"<PROP><NAME>X-EMPTY</NAME></PROP>", {"X-EMPTY:"}, {"X-EMPTY:"}},
      // A card read from 2.1 had only "\;" (and the stored "\n") as escapes:
      // its other backslashes and its commas are text, escaped for 3.0 and 4.0.
      {"<VERSION>2.1</VERSION><PROP><NAME>X-A</NAME><VALUE>a, b\\c\\;d\\n\\</VALUE></PROP>",
       {"X-A:a\\, b\\\\c\\;d\\n\\\\"}, {"X-A:a\\, b\\\\c\\;d\\n\\\\"}},
      // Names the writer frames the card with, and names a reader would split.
      {"<PROP><NAME>END</NAME><VALUE>VCARD</VALUE></PROP><PROP><NAME>begin</NAME>"
       "<VALUE>VCARD</VALUE></PROP><PROP><NAME>VERSION</NAME><VALUE>2.1</VALUE></PROP>"
       "<PROP><NAME>X-A:B</NAME><VALUE>1</VALUE></PROP><PROP><NAME>g.X</NAME><VALUE>1</VALUE></PROP>"
       "<PROP><VALUE>nameless</VALUE></PROP>",
       {}, {}},
  });
}

TEST(WriteVCardTest, StoreElementsAreNeverWritten) {
  for (TvCardVersion version : {k30, k40}) {
    const std::string written =
        WriteRecord("<OWNER>alice</OWNER><ID>17</ID><VERSION>2.1</VERSION><FN>Ann</FN>", version);
    const std::string n = version == k30 ? "N:;;;;\r\n" : "";
    EXPECT_EQ("BEGIN:VCARD\r\n" + VersionLine(version) + "\r\n" + n + "FN:Ann\r\nEND:VCARD\r\n",
              written);
  }
}

TEST(WriteVCardTest, CustomLeavesBecomeXPelorinPropertiesContainersAreSkipped) {
  ExpectCases({
      {"<MYFIELD>v,1</MYFIELD>", {"X-PELORIN-MYFIELD:v\\,1"}, {"X-PELORIN-MYFIELD:v\\,1"}},
      {"<my.odd_name>x</my.odd_name>", {"X-PELORIN-my-odd-name:x"}, {"X-PELORIN-my-odd-name:x"}},
      {"<CUSTOM><A>1</A></CUSTOM><FLAG/><EMPTY></EMPTY>", {}, {}},
  });
}

TEST(WriteVCardTest, BinariesPerVersion) {
  ExpectCases({
      {"<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>/9j/4AA=</BINVAL></PHOTO>",
       {"PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AA="}, {"PHOTO:data:image/jpeg;base64,/9j/4AA="}},
      {"<LOGO><TYPE>image/svg+xml</TYPE><BINVAL>PHN2Zz4=</BINVAL></LOGO>",
       {"LOGO;ENCODING=b;TYPE=SVG+XML:PHN2Zz4="}, {"LOGO:data:image/svg+xml;base64,PHN2Zz4="}},
      {"<SOUND><TYPE>audio/basic</TYPE><BINVAL>AAEC</BINVAL></SOUND>",
       {"SOUND;ENCODING=b;TYPE=BASIC:AAEC"}, {"SOUND:data:audio/basic;base64,AAEC"}},
      {"<KEY><TYPE>application/pgp-keys</TYPE><BINVAL>mQEN</BINVAL></KEY>",
       {"KEY;ENCODING=b;TYPE=PGP:mQEN"}, {"KEY:data:application/pgp-keys;base64,mQEN"}},
      {"<KEY><TYPE>application/pkix-cert</TYPE><BINVAL>MIIB</BINVAL></KEY>",
       {"KEY;ENCODING=b;TYPE=X509:MIIB"}, {"KEY:data:application/pkix-cert;base64,MIIB"}},
      {"<KEY><TYPE>text/plain</TYPE><BINVAL>YQ==</BINVAL></KEY>",
       {"KEY;ENCODING=b;TYPE=text/plain:YQ=="}, {"KEY:data:text/plain;base64,YQ=="}},
      // A type word the reader kept: 4.0 needs a media type for its data: URI.
      {"<PHOTO><TYPE>XYZ</TYPE><BINVAL>AA==</BINVAL></PHOTO>", {"PHOTO;ENCODING=b;TYPE=XYZ:AA=="},
       {"PHOTO:data:image/xyz;base64,AA=="}},
      {"<KEY><TYPE>PGP</TYPE><BINVAL>mQEN</BINVAL></KEY>", {"KEY;ENCODING=b;TYPE=PGP:mQEN"},
       {"KEY:data:application/pgp-keys;base64,mQEN"}},
      {"<PHOTO><BINVAL>AA==</BINVAL></PHOTO>", {"PHOTO;ENCODING=b:AA=="}, {"PHOTO:data:;base64,AA=="}},
      {"<PHOTO><TYPE>image/png</TYPE><BINVAL>iVBO\n Rw0K\tGgo=</BINVAL></PHOTO>",
       {"PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo="}, {"PHOTO:data:image/png;base64,iVBORw0KGgo="}},
      {"<PHOTO><EXTVAL>http://x.example/a,b;c.jpg</EXTVAL></PHOTO>",
       {"PHOTO;VALUE=uri:http://x.example/a,b;c.jpg"}, {"PHOTO:http://x.example/a,b;c.jpg"}},
      {"<LOGO><TYPE>image/gif</TYPE><EXTVAL>http://x.example/l.gif</EXTVAL></LOGO>",
       {"LOGO;VALUE=uri;TYPE=GIF:http://x.example/l.gif"},
       {"LOGO;MEDIATYPE=image/gif:http://x.example/l.gif"}},
      // RFC 2426 keys are binary or text: no VALUE=uri.
      {"<KEY><EXTVAL>https://x.example/key.asc</EXTVAL></KEY>", {"KEY:https://x.example/key.asc"},
       {"KEY:https://x.example/key.asc"}},
      {"<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>AA==</BINVAL><EXTVAL>http://x/</EXTVAL></PHOTO>",
       {"PHOTO;ENCODING=b;TYPE=JPEG:AA=="}, {"PHOTO:data:image/jpeg;base64,AA=="}},
      {"<PHOTO><TYPE>image/jpeg</TYPE></PHOTO>", {}, {}},
      {"<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>AA==</BINVAL></PHOTO><PARAMS><GROUP>p</GROUP>"
       "<PARAM><NAME>X-SIZE</NAME><VALUE>1</VALUE></PARAM></PARAMS>",
       {"p.PHOTO;ENCODING=b;TYPE=JPEG;X-SIZE=1:AA=="}, {"p.PHOTO;X-SIZE=1:data:image/jpeg;base64,AA=="}},
  });
}

TEST(WriteVCardTest, LongBase64IsFoldedAndUnfoldsToTheData) {
  std::string data;
  for (int i = 0; i < 400; ++i) data += "ABCDabcd0123+/"[i % 14];
  data += "==";
  const std::string inner = "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>" + data + "</BINVAL></PHOTO>";
  for (TvCardVersion version : {k30, k40}) {
    const std::string written = WriteRecord("<FN>F</FN><N/>" + inner, version);
    for (const std::string& line : PhysicalLines(written)) EXPECT_LE(line.size(), kMaxLineOctets) << line;
    EXPECT_GT(PhysicalLines(written).size(), LogicalLines(written).size() + 4);
    const std::string want = version == k30 ? "PHOTO;ENCODING=b;TYPE=JPEG:" + data
                                            : "PHOTO:data:image/jpeg;base64," + data;
    const TLines lines = LogicalLines(written);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), want)) << written;
  }
}

TEST(WriteVCardTest, EveryPhysicalLineOfARichCardFitsAndUnfoldsBack) {
  std::string note = "Line one, with; separators\\ and \xE2\x82\xAC and \xF0\x9F\x98\x80 ";
  while (note.size() < 400) note += "\xC3\xA9t\xE2\x82\xAC\xF0\x9F\x98\x80 ";
  const std::string inner = "<FN>" + note + "</FN><NOTE>" + note + "\n" + note + "</NOTE>";
  for (TvCardVersion version : {k30, k40}) {
    const std::string written = WriteRecord(inner, version);
    for (const std::string& line : PhysicalLines(written)) {
      EXPECT_LE(line.size(), kMaxLineOctets) << line;
      // A fold that cut a sequence would leave bad UTF-8 on both lines.
      EXPECT_EQ(ReplaceInvalidUtf8(line), line);
    }
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'),
              std::count(written.begin(), written.end(), '\r'));  // CR LF only
    const TLines lines = LogicalLines(written);
    std::string escaped_note;
    for (char c : note) {
      if (c == ',' || c == ';' || c == '\\') escaped_note += '\\';
      escaped_note += c;
    }
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "NOTE:" + escaped_note + "\\n" + escaped_note));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "FN:" + escaped_note));
  }
}

TEST(WriteVCardTest, BadUtf8InARecordIsReplaced) {
  const TRecordElement card{"vCard",
                            "",
                            {{"FN", "Ann\xFF", {}},
                             {"NOTE", "a\xC3", {}},
                             {"TEL", "", {{"NUMBER", "1", {}}, {"C\x80", "", {}}}}}};
  const std::string written = WriteVCard(card, k40, {});
  EXPECT_EQ("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann\xEF\xBF\xBD\r\nNOTE:a\xEF\xBF\xBD\r\n"
            "TEL;TYPE=c\xEF\xBF\xBD:1\r\nEND:VCARD\r\n",
            written);
}

TEST(WriteVCardTest, MissingFnIsMadeFromNThenOrg) {
  const struct { const char* inner; const char* fn; } cases[] = {
      {"<N><FAMILY>Smith</FAMILY><GIVEN>Ann</GIVEN><MIDDLE>B</MIDDLE></N><ORG><ORGNAME>O</ORGNAME></ORG>",
       "FN:Ann Smith"},
      {"<N><FAMILY>Smith</FAMILY></N>", "FN:Smith"},
      {"<N><GIVEN>Ann</GIVEN></N>", "FN:Ann"},
      {"<N><PREFIX>Dr.</PREFIX></N><ORG><ORGNAME>Ex, Ltd</ORGNAME></ORG>", "FN:Ex\\, Ltd"},
      {"<ORG><ORGUNIT>Sales</ORGUNIT></ORG>", "FN:"},
      {"", "FN:"},
  };
  for (const auto& c : cases) {
    for (TvCardVersion version : {k30, k40}) {
      const TLines lines = LogicalLines(WriteRecord(c.inner, version));
      ASSERT_GE(lines.size(), 3u);
      EXPECT_EQ(c.fn, lines[2]) << c.inner;  // right after VERSION
      EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(),
                                 [](const std::string& l) { return l.starts_with("FN:"); }))
          << c.inner;
    }
  }
}

TEST(WriteVCardTest, NIsRequiredIn30Only) {
  EXPECT_EQ((TLines{"BEGIN:VCARD", "VERSION:3.0", "FN:O", "N:;;;;", "ORG:O", "END:VCARD"}),
            LogicalLines(WriteRecord("<ORG><ORGNAME>O</ORGNAME></ORG>", k30)));
  EXPECT_EQ((TLines{"BEGIN:VCARD", "VERSION:4.0", "FN:O", "ORG:O", "END:VCARD"}),
            LogicalLines(WriteRecord("<ORG><ORGNAME>O</ORGNAME></ORG>", k40)));
  // An FN present, even empty, is the card's own.
  EXPECT_EQ((TLines{"BEGIN:VCARD", "VERSION:3.0", "NOTE:x", "FN:", "N:S;;;;", "END:VCARD"}),
            LogicalLines(WriteRecord("<NOTE>x</NOTE><FN/><N><FAMILY>S</FAMILY></N>", k30)));
}

TEST(WriteVCardTest, UidAndRevFromTheCardElseFromTheDefaults) {
  const TWriteDefaults defaults{"urn:uuid:0000-1", "2024-01-01T00:00:00Z"};
  for (TvCardVersion version : {k30, k40}) {
    const TLines own = LogicalLines(WriteRecord(
        "<FN>A</FN><N/><REV>2020-02-02T02:02:02Z</REV><UID>u-1</UID><NOTE>n</NOTE>", version, defaults));
    EXPECT_EQ((TLines{"BEGIN:VCARD", VersionLine(version), "FN:A", "N:;;;;", "REV:2020-02-02T02:02:02Z",
                      "UID:u-1", "NOTE:n", "END:VCARD"}),
              own);
    const TLines given = LogicalLines(WriteRecord("<FN>A</FN><N/><NOTE>n</NOTE>", version, defaults));
    EXPECT_EQ((TLines{"BEGIN:VCARD", VersionLine(version), "FN:A", "N:;;;;", "NOTE:n",
                      "UID:urn:uuid:0000-1", "REV:2024-01-01T00:00:00Z", "END:VCARD"}),
              given);
    const TLines half = LogicalLines(WriteRecord("<FN>A</FN><N/><UID>u-2</UID>", version, defaults));
    EXPECT_EQ((TLines{"BEGIN:VCARD", VersionLine(version), "FN:A", "N:;;;;", "UID:u-2",
                      "REV:2024-01-01T00:00:00Z", "END:VCARD"}),
              half);
    const TLines none = LogicalLines(WriteRecord("<FN>A</FN><N/>", version, {}));
    EXPECT_EQ((TLines{"BEGIN:VCARD", VersionLine(version), "FN:A", "N:;;;;", "END:VCARD"}), none);
  }
}

// What the writer writes, read back by the project's reader, is the record
// again (with the VERSION element of the written card in front). Only what
// the reader maps today: it keeps no PARAMS, PROP or binaries yet, and
// splits ORG units at commas, so one unit is used.
TEST(WriteVCardTest, TheReaderReadsBackTheMappedProperties) {
  const std::string inner =
      "<FN>Dr. Ann Smith, PhD</FN>"
      "<N><FAMILY>Smith</FAMILY><GIVEN>Ann</GIVEN><PREFIX>Dr.</PREFIX><SUFFIX>PhD</SUFFIX></N>"
      "<NICKNAME>Annie</NICKNAME><NICKNAME>A;S</NICKNAME>"
      "<TEL><NUMBER>+1 555 0100</NUMBER><WORK/><VOICE/></TEL>"
      "<TEL><NUMBER>+1 555 0199</NUMBER><CELL/><VOICE/></TEL>"
      "<EMAIL><USERID>ann@x.example</USERID><PREF/><INTERNET/></EMAIL>"
      "<ADR><WORK/><STREET>1 Main St, Apt 2</STREET><LOCALITY>Spring;field</LOCALITY>"
      "<CTRY>USA</CTRY></ADR>"
      "<LABEL><HOME/><LINE>1 Main St\nSpringfield</LINE></LABEL>"
      "<ORG><ORGNAME>Example, Ltd</ORGNAME><ORGUNIT>Sales</ORGUNIT></ORG>"
      "<TITLE>Head of R&amp;D</TITLE><ROLE>Lead</ROLE>"
      "<NOTE>a,b;c\\d\ne:f \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</NOTE>"
      "<CATEGORIES><KEYWORD>Clients</KEYWORD><KEYWORD>V,I;P</KEYWORD></CATEGORIES>"
      "<URL>http://x.example/a,b</URL><BDAY>1990-01-02</BDAY>"
      "<CLASS><PRIVATE/></CLASS><UID>u-1</UID><REV>2024-01-01T00:00:00Z</REV>";
  for (TvCardVersion version : {k30, k40}) {
    const std::string written = WriteRecord(inner, version);
    const std::string read_back = test::ConvertFirstCard(written);
    const std::string version_element =
        version == k30 ? "<VERSION>3.0</VERSION>" : "<VERSION>4.0</VERSION>";
    EXPECT_EQ(Parsed(test::Record(version_element + inner)), Parsed(read_back)) << written;
  }
  // GEO only in 3.0: the 4.0 geo: URI is not read yet.
  const std::string geo = "<FN>G</FN><N/><GEO><LAT>37.38</LAT><LON>-122.08</LON></GEO>";
  EXPECT_EQ(Parsed(test::Record("<VERSION>3.0</VERSION>" + geo)),
            Parsed(test::ConvertFirstCard(WriteRecord(geo, k30))));
}

}  // namespace
}  // namespace pelorin
