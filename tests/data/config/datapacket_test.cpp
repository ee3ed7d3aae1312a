#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "data/config/datapacket.h"
#include "data/config/packet_fixture.h"
#include "data/config/sconf.h"
#include "util/regional.h"
#include "util/utilities.h"

namespace orv::data {
namespace {

using testing::Campo;
using testing::Fields;
using testing::Packet;
using testing::Row;

class PacketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = util::Regional();
    util::SetRegional(util::RegionalPtBR());
  }
  void TearDown() override { util::SetRegional(saved_); }

  // The cause message DecodificarSconf raises, or "" when it accepts the bytes.
  static std::string Cause(const std::string& bytes) {
    try {
      DecodificarSconf(bytes, "", "");
      return "";
    } catch (const std::runtime_error& e) {
      return e.what();
    }
  }
  util::RegionalSettings saved_;
};

TEST_F(PacketTest, EveryErrorOfTheTableWithItsExactMessage) {
  const std::string ok_fields = Fields();
  const std::string mismatch = "Mismatch in datapacket.";
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"empty file", "", "CdsSCONF: Missing data provider or data packet"},
      {"blanks only", " \r\n\t ", mismatch},
      {"text first", "x<DATAPACKET/>", mismatch},
      {"NUL first", std::string("\0<DATAPACKET/>", 14), mismatch},
      {"other root", "<TABLE/>", mismatch},
      {"empty DATAPACKET", "<DATAPACKET Version=\"2.0\"/>", mismatch},
      {"PARAMS first", "<DATAPACKET><PARAMS/><METADATA/></DATAPACKET>", mismatch},
      {"METADATA without FIELDS", "<DATAPACKET><METADATA><PARAMS/></METADATA></DATAPACKET>",
       mismatch},
      {"empty METADATA", "<DATAPACKET><METADATA/></DATAPACKET>", mismatch},
      {"FIELD without name",
       Packet("<FIELD fieldtype=\"string\" WIDTH=\"20\"/>" + ok_fields, Row("0")), mismatch},
      {"single quotes", Packet(ok_fields, "<ROW CAMPO_03='3'/>"), mismatch},
      {"unknown entity", Packet(ok_fields, Row("0", "CAMPO_01=\"&nbsp;\"")), mismatch},
      {"entity without ;", Packet(ok_fields, Row("0", "CAMPO_01=\"a&amp b\"")), mismatch},
      {"empty reference", Packet(ok_fields, Row("0", "CAMPO_01=\"&#;\"")), mismatch},
      {"bad decimal reference", Packet(ok_fields, Row("0", "CAMPO_01=\"&#12a;\"")), mismatch},
      {"bad hex reference", Packet(ok_fields, Row("0", "CAMPO_01=\"&#xg;\"")), mismatch},
      {"upper-case X reference", Packet(ok_fields, Row("0", "CAMPO_01=\"&#X41;\"")), mismatch},
      {"RowState not a number", Packet(ok_fields, Row("0", "RowState=\"x\"")), mismatch},
      {"cut short", Packet(ok_fields, Row("0")).substr(0, 500), mismatch},
      {"crossed end tags", "<DATAPACKET><METADATA><FIELDS></METADATA></FIELDS></DATAPACKET>",
       mismatch},
      {"attribute without value", Packet(ok_fields, "<ROW CAMPO_03/>"), mismatch},
      {"unclosed comment", "<DATAPACKET><!-- x", mismatch},
      {"unknown type", Packet(Fields({{7, "fieldtype=\"varchar\" WIDTH=\"9\""}}), Row("0")),
       "Invalid field type."},
      {"no type", Packet(Fields({{7, "WIDTH=\"9\""}}), Row("0")), "Invalid field type."},
      {"first column missing", Packet(Fields({{1, ""}}), Row("0")),
       "CdsSCONF: Field 'CAMPO_01' not found"},
      {"a later column missing", Packet(Fields({{60, ""}, {61, ""}}), Row("0")),
       "CdsSCONF: Field 'CAMPO_60' not found"},
      {"ROWDATA only", "<DATAPACKET><ROWDATA/></DATAPACKET>",
       "CdsSCONF: Field 'CAMPO_01' not found"},
      {"wide string", Packet(Fields({{7, "fieldtype=\"string.uni\" WIDTH=\"255\""}}), Row("0")),
       "CdsSCONF: Type mismatch for field 'CAMPO_07', expecting: String actual: WideString"},
      {"integer", Packet(Fields({{2, "fieldtype=\"I4\""}, {7, "fieldtype=\"r8\""}}), Row("0")),
       "CdsSCONF: Type mismatch for field 'CAMPO_02', expecting: String actual: Integer"},
      {"memo", Packet(Fields({{80, "fieldtype=\"bin.hex\" SUBTYPE=\"Text\""}}), Row("0")),
       "CdsSCONF: Type mismatch for field 'CAMPO_80', expecting: String actual: Memo"},
      {"no record", Packet(Fields(), ""), "'''' is not a valid integer value"},
      {"no record (empty ROWDATA)", "<DATAPACKET><METADATA><FIELDS>" + Fields() +
                                        "</FIELDS></METADATA><ROWDATA/></DATAPACKET>",
       "'''' is not a valid integer value"},
      {"CAMPO_03 null", Packet(Fields(), "<ROW/>"), "'''' is not a valid integer value"},
      {"CAMPO_03 not a number", Packet(Fields(), Row("abc")),
       "''abc'' is not a valid integer value"},
      {"CAMPO_03 with a trailing blank", Packet(Fields(), Row("2 ")),
       "''2 '' is not a valid integer value"},
  };
  for (const auto& c : cases) EXPECT_EQ(Cause(c.bytes), c.message) << c.what;
}

TEST_F(PacketTest, WholeNumbers) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"0", 0}, {"  7", 7}, {"+3", 3}, {"-12", -12}, {"$1F", 31}, {"0x1f", 31}, {"-$10", -16},
      {"$FFFFFFFF", -1}, {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
      {"", std::nullopt}, {"  ", std::nullopt}, {"7 ", std::nullopt}, {"1.0", std::nullopt},
      {"2147483648", std::nullopt}, {"$100000000", std::nullopt}, {"0x", std::nullopt},
      {"$", std::nullopt}, {"x1", std::nullopt}, {"--1", std::nullopt}, {"\t7", std::nullopt},
      {"$G", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(LerInteiro(c.text), c.value) << c.text;
}

// The raw (still scrambled) value of CAMPO_01 in the first record, as 8-bit bytes.
std::string FirstCampo01(const std::string& bytes, const char* page = "WINDOWS-1252") {
  const DataPacket p = ReadDataPacket(bytes, page);
  for (std::size_t f = 0; f < p.fields.size(); ++f)
    if (p.fields[f].name == "CAMPO_01") return p.rows.at(0).values[f].value_or("<null>");
  return "<no field>";
}

TEST_F(PacketTest, EscapesReferencesAndEncodings) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string utf8_decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";
  const std::string fields = Fields();
  struct Case {
    const char* what;
    std::string declaration;
    std::string value;      // as written in the file
    std::string expected;   // bytes in WINDOWS-1252
  } cases[] = {
      {"escapes", "", "&lt;&gt;&amp;&quot;&apos;", "<>&\"'"},
      {"decimal references", "", "&#009;&#010;&#013;&#092;&#0;", std::string("\t\n\r\\\0", 5)},
      {"hex reference", "", "&#x41;&#xe9;", "A\xE9"},
      {"only the low 8 bits", "", "&#x1E9;&#256;", std::string("\xE9\0", 2)},
      {"8-bit literal", "", "a\x80\xE9", "a\x80\xE9"},
      {"UTF-8 by BOM", bom, "\xE2\x82\xAC\xC3\xA9", "\x80\xE9"},
      {"UTF-8 by declaration", utf8_decl, "\xC3\xA7\xE6\x97\xA5", "\xE7?"},   // 日 lacking
      {"reference in a UTF-8 file", utf8_decl, "&#233;\xC3\xA9", "\xE9\xE9"},
      {"lower-case encoding", "<?xml version=\"1.0\" encoding=\"utf-8\"?>", "\xC3\xA9", "\xE9"},
      {"declared UTF-8 but not valid", utf8_decl, "\xE9\xC3", "\xE9\xC3"},   // 8-bit then
      {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "\xC3\xA9",
       "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    const std::string bytes =
        Packet(fields, "<ROW CAMPO_01=\"" + c.value + "\" CAMPO_03=\"3\"/>", c.declaration);
    EXPECT_EQ(FirstCampo01(bytes), c.expected) << c.what;
  }
  EXPECT_TRUE(IsUtf8Packet(bom + "<x/>"));
  EXPECT_TRUE(IsUtf8Packet("  \n<?xml encoding = 'UTF-8' ?><x/>"));
  EXPECT_FALSE(IsUtf8Packet("<?xml version=\"1.0\"?><x/>"));
  EXPECT_FALSE(IsUtf8Packet("<x/><?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
}

TEST_F(PacketTest, ChangeLogExtraColumnsAndRecords) {
  const std::string extra = "<FIELD attrname=\"EXTRA\" fieldtype=\"i4\"/>"
                            "<FIELD attrname=\"CAMPO_59\" fieldtype=\"dateTime\"/>";
  struct Case {
    const char* what;
    std::string rows;
    std::string campo01;
  } cases[] = {
      {"first of several records", "<ROW CAMPO_01=\"a\" EXTRA=\"1\"/><ROW CAMPO_01=\"b\"/>", "a"},
      {"absent attribute is null", "<ROW CAMPO_03=\"3\"/>", "<null>"},
      {"deleted row is skipped", "<ROW RowState=\"2\" CAMPO_01=\"a\"/><ROW CAMPO_01=\"b\"/>",
       "b"},
      {"original + new image",
       "<ROW RowState=\"1\" CAMPO_01=\"a\" CAMPO_03=\"3\"/><ROW RowState=\"8\" CAMPO_01=\"c\"/>",
       "c"},
      {"original without new image", "<ROW RowState=\"1\" CAMPO_01=\"a\"/><ROW CAMPO_01=\"b\"/>",
       "a"},
      {"inserted row", "<ROW RowState=\"4\" CAMPO_01=\"n\"/>", "n"},
      {"nested rows skipped", "<ROW CAMPO_01=\"a\"><D><ROW CAMPO_01=\"z\"/></D></ROW>", "a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FirstCampo01(Packet(Fields({}, false) + extra, c.rows)), c.campo01) << c.what;

  // The original's other values stay when the new image leaves them out.
  const std::string changed =
      Packet(Fields(), "<ROW RowState=\"1\" CAMPO_01=\"" + util::CifrarTexto("srv") +
                           "\" CAMPO_03=\"" + util::CifrarTexto("0") +
                           "\"/><ROW RowState=\"8\" CAMPO_05=\"" + util::CifrarTexto("db") +
                           "\"/>");
  const ConfigConexao config = DecodificarSconf(changed, "", "");
  EXPECT_EQ(config.LocalGestao, "srv:db");

  // Column names bind without regard to ASCII case; comments, PIs and nested declarations
  // are skipped; a packet may begin with METADATA.
  std::string lower = Fields();
  for (std::size_t at; (at = lower.find("\"CAMPO_")) != std::string::npos;)
    lower.replace(at, 7, "\"campo_");
  const std::string bare = "<!-- saved --><?pi x?><METADATA><FIELDS>" + lower +
                           "<FIELD attrname=\"N\" fieldtype=\"nested\"><FIELDS><FIELD attrname="
                           "\"Q\" fieldtype=\"bogus\"/></FIELDS></FIELD></FIELDS></METADATA>"
                           "<ROWDATA><ROW campo_03=\"" + util::CifrarTexto("7") + "\"/></ROWDATA>";
  EXPECT_EQ(DecodificarSconf(bare, "", "").TipoBanco, 7);
}

TEST_F(PacketTest, WidthCutsValues) {
  const std::string long_value(300, 'b');   // scrambled 'a'
  struct Case {
    std::string declaration;
    std::size_t length;
  } cases[] = {
      {"fieldtype=\"string\" WIDTH=\"3\"", 3},
      {"fieldtype=\"string\" WIDTH=\"300\"", 255},
      {"fieldtype=\"string\"", 255},
      {"fieldtype=\"string\" WIDTH=\"25511111111111111111\"", 255},   // not a width
      {"fieldtype=\"String\" SUBTYPE=\"FixedChar\" WIDTH=\"20\"", 20},
  };
  for (const auto& c : cases) {
    const std::string bytes = Packet(
        Fields({{1, c.declaration}}), Row("0", "CAMPO_01=\"" + long_value + "\" CAMPO_05=\"\""));
    const ConfigConexao config = DecodificarSconf(bytes, "", "");
    EXPECT_EQ(config.Servidor, std::string(c.length, 'a')) << c.declaration;
  }
}

}  // namespace
}  // namespace orv::data
