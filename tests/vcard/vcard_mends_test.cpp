// How the reader handles the files real programs write: parameters of
// vCard 3.0/4.0 and Android 2.1, groups, character sets, encoded data,
// escapes and folding, and names a store would refuse.
#include "vcard/vcard2xml.h"

#include <gtest/gtest.h>

#include "tests/vcard/vcard_test_util.h"

namespace pelorin {
namespace {

using test::Card;
using test::ConvertFirstCard;
using test::Record;
using test::RecordProblem;

struct TMendCase {
  const char* body;  // card lines between BEGIN and END
  const char* written;
};

void ExpectCards(const std::vector<TMendCase>& cases) {
  for (const auto& c : cases) {
    const std::string record = ConvertFirstCard(Card(c.body));
    EXPECT_EQ(Record(c.written), record) << c.body;
    EXPECT_EQ("", RecordProblem(record)) << c.body;
  }
}

TEST(ParameterMendTest, ParametersNeverStayInText) {
  ExpectCards({
      {"FN;CHARSET=UTF-8:Ann", "<FN>Ann</FN>"},
      {"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=9Cber;Anna",
       "<N><FAMILY>\xC3\x9C" "ber</FAMILY><GIVEN>Anna</GIVEN></N>"},
      {"NOTE;encoding=quoted-printable:a=3Db", "<NOTE>a=b</NOTE>"},
      {"NOTE;LANGUAGE=en;X-A=\"q;r:s\":text",
       "<NOTE>text</NOTE><PARAMS><PARAM><NAME>LANGUAGE</NAME><VALUE>en</VALUE></PARAM><PARAM><NAME>X-A</NAME><VALUE>q;r:s</VALUE></PARAM></PARAMS>"},
      // Bare words only mark typed properties; elsewhere they are kept as TYPE.
      {"FN;HOME:Ann", "<FN>Ann</FN><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>HOME</VALUE></PARAM></PARAMS>"},
      {"ORG;CHARSET=UTF-8:A;B", "<ORG><ORGNAME>A</ORGNAME><ORGUNIT>B</ORGUNIT></ORG>"},
  });
}

TEST(ParameterMendTest, TypeAndPrefBecomeMarkers) {
  ExpectCards({
      {"TEL;TYPE=WORK:1", "<TEL><NUMBER>1</NUMBER><WORK/><VOICE/></TEL>"},
      {"TEL;TYPE=work,fax:1", "<TEL><NUMBER>1</NUMBER><WORK/><FAX/></TEL>"},
      {"TEL;TYPE=\"cell,voice\":1", "<TEL><NUMBER>1</NUMBER><CELL/><VOICE/></TEL>"},
      {"TEL;type=HOME;type=pref:1", "<TEL><NUMBER>1</NUMBER><HOME/><PREF/><VOICE/></TEL>"},
      {"TEL;PREF=1:1", "<TEL><NUMBER>1</NUMBER><PREF/><VOICE/></TEL><PARAMS><PARAM><NAME>PREF</NAME><VALUE>1</VALUE></PARAM></PARAMS>"},
      {"TEL;VALUE=uri;TYPE=\"voice,home\":tel:+1-555",
       "<TEL><NUMBER>tel:+1-555</NUMBER><VOICE/><HOME/></TEL><PARAMS><PARAM><NAME>VALUE</NAME><VALUE>uri</VALUE></PARAM></PARAMS>"},
      {"TEL;X-SERVICE=a;WORK:1", "<TEL><NUMBER>1</NUMBER><WORK/><VOICE/></TEL><PARAMS><PARAM><NAME>X-SERVICE</NAME><VALUE>a</VALUE></PARAM></PARAMS>"},
      {"EMAIL;TYPE=INTERNET;PREF=1:x",
       "<EMAIL><USERID>x</USERID><PREF/><INTERNET/></EMAIL><PARAMS><PARAM><NAME>PREF</NAME><VALUE>1</VALUE></PARAM></PARAMS>"},
      {"EMAIL;TYPE=INTERNET,HOME,pref:x", "<EMAIL><USERID>x</USERID><PREF/><INTERNET/><HOME/></EMAIL>"},
      {"ADR;TYPE=home:;;S", "<ADR><HOME/><STREET>S</STREET></ADR>"},
      {"ADR;CHARSET=UTF-8:;;S", "<ADR><INTL/><POSTAL/><PARCEL/><WORK/><STREET>S</STREET></ADR>"},
      {"ADR;LABEL=\"a:b;c\";TYPE=WORK:;;S", "<ADR><WORK/><STREET>S</STREET></ADR><PARAMS><PARAM><NAME>LABEL</NAME><VALUE>a:b;c</VALUE></PARAM></PARAMS>"},
      {"LABEL;QUOTED-PRINTABLE;WORK:a=0Ab", "<LABEL><WORK/><LINE>a\nb</LINE></LABEL>"},
      {"LABEL;quoted-printable;HOME:x", "<LABEL><HOME/><LINE>x</LINE></LABEL>"},
  });
}

TEST(ParameterMendTest, ValueKeepsItsColons) {
  ExpectCards({
      {"TEL:12:34", "<TEL><NUMBER>12:34</NUMBER><VOICE/></TEL>"},
      {"EMAIL:mailto:a@b", "<EMAIL><USERID>mailto:a@b</USERID></EMAIL>"},
      {"TEL;QUOTED-PRINTABLE:12=3A34", "<TEL><NUMBER>12:34</NUMBER><VOICE/></TEL>"},
  });
}

// The group is kept beside the element; a prefix that is no group makes no property.
TEST(GroupMendTest, GroupIsKeptApart) {
  ExpectCards({
      {"item1.TEL:123", "<TEL><NUMBER>123</NUMBER><VOICE/></TEL><PARAMS><GROUP>item1</GROUP></PARAMS>"},
      {"A.EMAIL;type=INTERNET:x", "<EMAIL><USERID>x</USERID><INTERNET/></EMAIL><PARAMS><GROUP>A</GROUP></PARAMS>"},
      {"item1.X-ABLabel:_$!<Other>!$_",
       "<PROP><NAME>X-ABLabel</NAME><GROUP>item1</GROUP><VALUE>_$!&lt;Other&gt;!$_</VALUE></PROP>"},
      {"item2.ADR;type=HOME:;;S;T",
       "<ADR><HOME/><STREET>S</STREET><LOCALITY>T</LOCALITY></ADR><PARAMS><GROUP>item2</GROUP></PARAMS>"},
      {".TEL:1", ""},  // no group before the dot: no vCard name
      {"a b.TEL:1", ""},  // a group is letters, digits and "-" only
  });
}

// Binary data is kept, as base64 without its white space; other properties
// that carry base64 are kept whole in the generic shape.
TEST(EncodedDataMendTest, EncodedDataIsKeptWithAllItsLines) {
  ExpectCards({
      // 2.1 data runs over plain lines; its last line "NOTE" is no property.
      {"PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n/9j/4AAQ\r\nNOTE\r\n\r\nFN:a",
       "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>/9j/4AAQNOTE</BINVAL></PHOTO><FN>a</FN>"},
      {"PHOTO;JPEG;B:\r\nAAAA\r\nBBBB\r\n\r\nFN:a",
       "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>AAAABBBB</BINVAL></PHOTO><FN>a</FN>"},
      {"PHOTO;JPEG;BASE64:AAAA\r\n ROLE\r\nFN:a",
       "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>AAAAROLE</BINVAL></PHOTO><FN>a</FN>"},
      {"NOTE;ENCODING=b:aGVsbG8=\r\nFN:a",
       "<PROP><NAME>NOTE</NAME><PARAM><NAME>ENCODING</NAME><VALUE>b</VALUE></PARAM><VALUE>aGVsbG8=</VALUE></PROP><FN>a</FN>"},
      {"TEL;ENCODING=BASE64:MTIz", "<PROP><NAME>TEL</NAME><PARAM><NAME>ENCODING</NAME><VALUE>BASE64</VALUE></PARAM><VALUE>MTIz</VALUE></PROP>"},
      {"NOTE:data:text/plain,hi", "<NOTE>data:text/plain,hi</NOTE>"},
      {"URL:DATA:image/png;base64,AAAA", "<URL>DATA:image/png;base64,AAAA</URL>"},
      {"VERSION:4.0\r\nPHOTO:data:image/png;base64,AA\r\n AA",
       "<VERSION>4.0</VERSION><PHOTO><TYPE>image/png</TYPE><BINVAL>AAAA</BINVAL></PHOTO>"},
      {"VERSION:3.0\r\nPHOTO;VALUE=uri:https://x/p.jpg", "<VERSION>3.0</VERSION><PHOTO><EXTVAL>https://x/p.jpg</EXTVAL></PHOTO>"},
      {"NOTE:the data: here", "<NOTE>the data: here</NOTE>"},
  });
  EXPECT_EQ(Record("<VERSION>3.0</VERSION><PHOTO><BINVAL>AAAABBBB</BINVAL></PHOTO><FN>a</FN>"),
            ConvertFirstCard(Card("VERSION:3.0\r\nPHOTO;ENCODING=b:AAAA\r\n BBBB\r\nFN:a")));
}

// A type word that is no element name stays a TYPE parameter; a CLASS that is
// none is kept in the generic shape.
TEST(XmlNameMendTest, RefusedNamesAreKeptAsParameters) {
  ExpectCards({
      {"TEL;1ST:1", "<TEL><NUMBER>1</NUMBER><VOICE/></TEL><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>1ST</VALUE></PARAM></PARAMS>"},
      {"TEL;A<B;FAX:1", "<TEL><NUMBER>1</NUMBER><FAX/></TEL><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>A&lt;B</VALUE></PARAM></PARAMS>"},
      {"EMAIL;9X;INTERNET:x", "<EMAIL><USERID>x</USERID><INTERNET/></EMAIL><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>9X</VALUE></PARAM></PARAMS>"},
      {"ADR;2:;;S", "<ADR><INTL/><POSTAL/><PARCEL/><WORK/><STREET>S</STREET></ADR><PARAMS><PARAM><NAME>TYPE</NAME><VALUE>2</VALUE></PARAM></PARAMS>"},
      {"CLASS:", "<CLASS></CLASS>"},
      {"CLASS:1abc", "<PROP><NAME>CLASS</NAME><VALUE>1abc</VALUE></PROP>"},
      {"CLASS:A B", "<PROP><NAME>CLASS</NAME><VALUE>A B</VALUE></PROP>"},
      {"CLASS: PRIVATE ", "<CLASS><PRIVATE/></CLASS>"},
      {"CLASS:confidential", "<CLASS><confidential/></CLASS>"},
      {"REV:a<b&c", "<REV>a&lt;b&amp;c</REV>"},
  });
}

TEST(CharsetMendTest, ValuesBecomeUtf8) {
  ExpectCards({
      {"FN;CHARSET=ISO-8859-1:J\xFCrgen", "<FN>J\xC3\xBCrgen</FN>"},
      {"FN;CHARSET=windows-1250:\x8A" "koda", "<FN>\xC5\xA0koda</FN>"},
      {"FN;CHARSET=SHIFT_JIS:\x93\xFA\x96\x7B", "<FN>\xE6\x97\xA5\xE6\x9C\xAC</FN>"},
      {"FN;CHARSET=\"ISO-8859-2\";ENCODING=QUOTED-PRINTABLE:=B1", "<FN>\xC4\x85</FN>"},
      {"FN;CHARSET=NO-SUCH-SET:caf\xE9", "<FN>caf\xC3\xA9</FN>"},
      {"FN;CHARSET=UTF-8//TRANSLIT:a", "<FN>a</FN>"},
      {"FN;CHARSET=UTF-8:caf\xE9", "<FN>caf\xC3\xA9</FN>"},
      {"FN;CHARSET=ISO-8859-1:a\x01" "b", "<FN>ab</FN>"},
      // A parameter name of other characters than letters, digits and "-" is no
      // parameter (found by fuzzing: a bare byte there made the record ill-formed).
      {"VERSION:4.0\r\nTEL;TYP\xC5=work;X-A=1:1",
       "<VERSION>4.0</VERSION><TEL><NUMBER>1</NUMBER></TEL><PARAMS><PARAM><NAME>X-A</NAME>"
       "<VALUE>1</VALUE></PARAM></PARAMS>"},
  });
}

TEST(CharsetMendTest, ConvertersPerUploadAreBounded) {
  std::string body, written;
  for (int i = 0; i < 16; ++i) {
    body += "NOTE;CHARSET=NO-SET-" + std::to_string(i) + ":a\r\n";
    written += "<NOTE>a</NOTE>";
  }
  // Past sixteen names a value is read as UTF-8 or Windows-1252, not as named.
  EXPECT_EQ(Record(written + "<FN>\xC2\xB1</FN>"),
            ConvertFirstCard(Card(body + "FN;CHARSET=ISO-8859-2:\xB1")));
  EXPECT_EQ(Record("<FN>\xC4\x85</FN>"), ConvertFirstCard(Card("FN;CHARSET=ISO-8859-2:\xB1")));
}

TEST(CharsetMendTest, BytesThatAreNotUtf8AreWindows1252) {
  ExpectCards({
      {"FN:J\xFCrgen", "<FN>J\xC3\xBCrgen</FN>"},
      {"FN:\x80 5", "<FN>\xE2\x82\xAC 5</FN>"},
      {"FN:\x81", "<FN>\xEF\xBF\xBD</FN>"},  // unassigned in the code page
      {"FN:caf\xC3\xA9 caf\xE9", "<FN>caf\xC3\xA9 caf\xC3\xA9</FN>"},
      {"FN:\xC0\xAF", "<FN>\xC3\x80\xC2\xAF</FN>"},        // an overlong form is no UTF-8
      {"FN:\xED\xA0\x80", "<FN>\xC3\xAD\xC2\xA0\xE2\x82\xAC</FN>"},  // nor a surrogate
      {"N;ENCODING=QUOTED-PRINTABLE:M=FCller", "<N><FAMILY>M\xC3\xBCller</FAMILY></N>"},
      {"FN:a\x01\x0B" "b\tc", "<FN>ab\tc</FN>"},  // controls XML refuses
      {"NOTE;QUOTED-PRINTABLE:a=00b", "<NOTE>ab</NOTE>"},
      {"FN:\xEF\xBF\xBE" "x", "<FN>x</FN>"},  // U+FFFE
      {"FN:\xF0\x9F\x98\x80", "<FN>\xF0\x9F\x98\x80</FN>"},
  });
}

TEST(EscapeMendTest, Version3And4UndoBackslashEscapesAfterTheSplit) {
  ExpectCards({
      {"VERSION:3.0\r\nN:O\\;Brien;Ann",
       "<VERSION>3.0</VERSION><N><FAMILY>O;Brien</FAMILY><GIVEN>Ann</GIVEN></N>"},
      {"N:O\\;Brien;Ann\r\nVERSION:4.0",  // the VERSION line may come last
       "<N><FAMILY>O;Brien</FAMILY><GIVEN>Ann</GIVEN></N><VERSION>4.0</VERSION>"},
      {"VERSION:3.0\r\nNOTE:a\\nb\\Nc\\\\n\\,\\;\\x",
       "<VERSION>3.0</VERSION><NOTE>a\nb\nc\\n,;\\x</NOTE>"},
      {"VERSION:3.0\r\nORG:A\\, Inc.;B\\,C,D",
       "<VERSION>3.0</VERSION><ORG><ORGNAME>A, Inc.</ORGNAME><ORGUNIT>B,C,D</ORGUNIT></ORG>"},
      {"VERSION:3.0\r\nCATEGORIES:a\\,b,c",
       "<VERSION>3.0</VERSION><CATEGORIES><KEYWORD>a,b</KEYWORD><KEYWORD>c</KEYWORD>"
       "</CATEGORIES>"},
      {"VERSION:3.0\r\nADR;TYPE=WORK:;;1\\; Main\\nSt;X",
       "<VERSION>3.0</VERSION><ADR><WORK/><STREET>1; Main\nSt</STREET><LOCALITY>X</LOCALITY>"
       "</ADR>"},
      // 4.0 implies no types: no VOICE for a TEL without any.
      {"item1.VERSION:4\r\nTEL:a\\,b",
       "<VERSION>4</VERSION><TEL><NUMBER>a,b</NUMBER></TEL>"},  // VERSION keeps no group: exports write their own
  });
  // A 2.1 card escapes only ";" in a structured value ("Mr." stays the prefix);
  // its other backslashes are text.
  ExpectCards({{"VERSION:2.1\r\nN:O\\;Brien",
                "<VERSION>2.1</VERSION><N><FAMILY>O;Brien</FAMILY></N>"},
               {"N:O\\;Brien;Ann;;Mr.", "<N><FAMILY>O;Brien</FAMILY><GIVEN>Ann</GIVEN><PREFIX>Mr.</PREFIX></N>"},
               {"NOTE:C:\\temp\\new", "<NOTE>C:\\temp\\new</NOTE>"}});
}

TEST(FoldingMendTest, EveryVersionRemovesOneBlankOnly) {
  ExpectCards({
      {"VERSION:3.0\r\nNOTE:abc\r\n  def", "<VERSION>3.0</VERSION><NOTE>abc def</NOTE>"},
      {"VERSION:3.0\r\nNOTE:abc\r\n\tdef ", "<VERSION>3.0</VERSION><NOTE>abcdef </NOTE>"},
      {"VERSION:3.0\r\nTEL;TYPE=WO\r\n RK:1", "<VERSION>3.0</VERSION><TEL><NUMBER>1</NUMBER>"
                                              "<WORK/><VOICE/></TEL>"},
      {"VERSION:3.0\r\nF\r\n N:a", "<VERSION>3.0</VERSION><FN>a</FN>"},
      {"VERSION:2.1\r\nNOTE:abc\r\n  def ", "<VERSION>2.1</VERSION><NOTE>abc def </NOTE>"},
      {"VERSION:3.0\r\nNOTE:a\\:b \\\"c\\\"", "<VERSION>3.0</VERSION><NOTE>a:b &quot;c&quot;</NOTE>"},
  });
}

}  // namespace
}  // namespace pelorin
