// Written cards read by a parser that is not ours: python3-vobject, where it
// is installed. vobject reads 4.0 lines with its 3.0 rules (a data: or geo:
// URI is split at its comma as a list), so the 4.0 card holds text only.
#include "vcard/vcard_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/temp_dir.h"
#include "xml/record_tree.h"

namespace pelorin::testing {
namespace {

const char* kScript = PELORIN_SOURCE_DIR "/tests/vcard/vobject_dump.py";

// The first interpreter that imports vobject (a python3 of a version
// manager may stand before the system's one in PATH); empty when none does.
std::string PythonWithVobject() {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    const std::string probe = std::string(python) + " -c 'import vobject' >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return python;
  }
  return {};
}

class VobjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    python_ = PythonWithVobject();
    if (python_.empty()) GTEST_SKIP() << "python3-vobject is not installed (apt-get install python3-vobject)";
  }

  // The lines vobject_dump.py prints for the card the writer makes of `inner`.
  std::string Dump(const std::string& inner, TvCardVersion version) {
    const std::optional<TRecordElement> card = RecordTreeFromXml("<vCard>" + inner + "</vCard>");
    EXPECT_TRUE(card.has_value());
    if (!card) return {};
    const std::string vcf = dir_.File("card.vcf"), out = dir_.File("out.txt"), err = dir_.File("err.txt");
    WriteFile(vcf, WriteVCard(*card, version, {"urn:uuid:1-2", "2024-01-01T00:00:00Z"}));
    const std::string command = python_ + " " + kScript + " " + vcf + " >" + out + " 2>" + err;
    EXPECT_EQ(0, std::system(command.c_str())) << ReadFile(err) << "\n" << ReadFile(vcf);
    return ReadFile(out);
  }

  std::string python_;
  TTempDir dir_;
};

std::string LongBase64() {
  std::string data;
  for (int i = 0; i < 300; ++i) data += "/9j/4AAQSkZJ"[i % 12];
  return data;
}

const std::string kNote = "a,b;c\\d\ne \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 and some more words to fold";

TEST_F(VobjectTest, Reads30CardAsWritten) {
  const std::string inner =
      "<FN>Ann, Smith</FN><N><FAMILY>Smith</FAMILY><GIVEN>Ann</GIVEN><SUFFIX>Jr;</SUFFIX></N>"
      "<TEL><NUMBER>+1 555</NUMBER><CELL/><VOICE/></TEL>"
      "<EMAIL><USERID>a@x.example</USERID><PREF/><INTERNET/></EMAIL>"
      "<ADR><WORK/><STREET>1 Main, St</STREET><LOCALITY>T;own</LOCALITY><CTRY>USA</CTRY></ADR>"
      "<ORG><ORGNAME>Ex, Ltd</ORGNAME><ORGUNIT>Sales</ORGUNIT><ORGUNIT>EMEA</ORGUNIT></ORG>"
      "<NOTE>" + kNote + kNote + kNote + "</NOTE>"
      "<CATEGORIES><KEYWORD>A,B</KEYWORD><KEYWORD>C</KEYWORD></CATEGORIES>"
      "<TITLE>Boss</TITLE><PARAMS><GROUP>item1</GROUP><PARAM><NAME>X-Q</NAME>"
      "<VALUE>say \"hi\": now</VALUE><VALUE>b</VALUE></PARAM></PARAMS>"
      "<PROP><NAME>X-ABLabel</NAME><GROUP>item1</GROUP><VALUE>_$!&lt;HomePage&gt;!$_</VALUE></PROP>"
      "<GEO><LAT>1.5</LAT><LON>-2.5</LON></GEO>"
      "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>" + LongBase64() + "</BINVAL></PHOTO>"
      "<OWNER>alice</OWNER><ID>3</ID>";
  const std::string note = "'a,b;c\\\\d\\ne \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 and some more words to fold";
  const std::string repeated_note = note + note.substr(1) + note.substr(1) + "'";
  EXPECT_EQ(".VERSION [] '3.0'\n"
            ".FN [] 'Ann, Smith'\n"
            ".N [] ['Smith', 'Ann', '', '', 'Jr;']\n"
            ".TEL [('TYPE', ['CELL', 'VOICE'])] '+1 555'\n"
            ".EMAIL [('TYPE', ['PREF', 'INTERNET'])] 'a@x.example'\n"
            ".ADR [('TYPE', ['WORK'])] ['', '', '1 Main, St', 'T;own', '', '', 'USA']\n"
            ".ORG [] ['Ex, Ltd', 'Sales', 'EMEA']\n"
            ".NOTE [] " + repeated_note + "\n"
            ".CATEGORIES [] ['A,B', 'C']\n"
            "item1.TITLE [('X-Q', ['say hi: now', 'b'])] 'Boss'\n"
            "item1.X-ABLABEL [] '_$!<HomePage>!$_'\n"
            ".GEO [] '1.5;-2.5'\n"
            ".PHOTO [('ENCODING', ['b']), ('TYPE', ['JPEG'])] base64:" + LongBase64() + "\n"
            ".UID [] 'urn:uuid:1-2'\n"
            ".REV [] '2024-01-01T00:00:00Z'\n",
            Dump(inner, TvCardVersion::k30));
}

TEST_F(VobjectTest, Reads40TextCardAsWritten) {
  const std::string inner =
      "<N><FAMILY>Smith</FAMILY><GIVEN>Ann</GIVEN></N>"
      "<TEL><NUMBER>+1 555</NUMBER><CELL/></TEL>"
      "<ORG><ORGNAME>Ex, Ltd</ORGNAME><ORGUNIT>R;D</ORGUNIT></ORG>"
      "<NOTE>" + kNote + kNote + "</NOTE>"
      "<PROP><NAME>X-Thing</NAME><PARAM><NAME>X-A</NAME><VALUE>1:2</VALUE></PARAM><VALUE>v\\,w</VALUE></PROP>";
  const std::string note = "'a,b;c\\\\d\\ne \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 and some more words to fold";
  EXPECT_EQ(".VERSION [] '4.0'\n"
            ".FN [] 'Ann Smith'\n"
            ".N [] ['Smith', 'Ann', '', '', '']\n"
            ".TEL [('TYPE', ['cell'])] '+1 555'\n"
            ".ORG [] ['Ex, Ltd', 'R;D']\n"
            ".NOTE [] " + note + note.substr(1) + "'\n"
            ".X-THING [('X-A', ['1:2'])] 'v,w'\n"  // the stored escape, undone by vobject
            ".UID [] 'urn:uuid:1-2'\n"
            ".REV [] '2024-01-01T00:00:00Z'\n",
            Dump(inner, TvCardVersion::k40));
}

}  // namespace
}  // namespace pelorin::testing
