// The data-packet reader.
//
// Grammar (document order):
//   [BOM] blanks* [<?xml ...?>] { <DATAPACKET ...> section* </DATAPACKET> | section+ }
//   section  = METADATA | ROWDATA; other elements are skipped whole
//   METADATA = <METADATA> <FIELDS> FIELD* </FIELDS> [PARAMS] ... </METADATA>
//   ROWDATA  = <ROWDATA> ROW* </ROWDATA>
// Comments, processing instructions, CDATA, DOCTYPE and text between elements are skipped.
// Attribute values are in double quotes; "&lt;" "&gt;" "&amp;" "&quot;" "&apos;", "&#N;" and
// "&#xH;" are resolved, a character reference giving one 8-bit character (its low 8 bits).
// Every structural fault is "Mismatch in datapacket.".
//
// Change log (RowState): bit 1 marks the original image of a changed row, bit 2 a deleted
// row, bit 4 an inserted row, bit 8 the new image of a changed row. Deleted rows are not
// presented; an original row followed by its new image is presented once, with the new
// image's values over the original's (an attribute absent from the new image keeps the
// original value); an original without a new image is presented as it is.
#include "data/config/datapacket.h"

#include <utility>

#include "util/text.h"

namespace orv::data {

namespace {

[[noreturn]] void Mismatch() { throw DataPacketError(kMsgMismatch, false); }

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

bool IsNameChar(unsigned char c) {
  return c > 32 && c != '=' && c != '>' && c != '/' && c != '<' && c != '"' && c != '\'';
}

struct Attr {
  std::string_view name;
  std::string_view raw;
};

struct Tag {
  enum Kind { kStart, kEnd, kEof } kind = kEof;
  std::string_view name;
  std::vector<Attr> attrs;
  bool empty = false;   // <X ... />

  const Attr* Find(std::string_view attr) const {
    for (const Attr& a : attrs)
      if (a.name == attr) return &a;
    return nullptr;
  }
};

class Lexer {
 public:
  Lexer(std::string_view s, std::size_t pos) : s_(s), pos_(pos) {}

  Tag Next() {
    for (;;) {
      const std::size_t lt = s_.find('<', pos_);
      if (lt == std::string_view::npos) {
        pos_ = s_.size();
        return Tag{};
      }
      pos_ = lt;
      if (Skip("<?", "?>") || Skip("<!--", "-->") || Skip("<![CDATA[", "]]>") || Skip("<!", ">"))
        continue;
      Tag tag;
      if (At("</")) {
        pos_ += 2;
        tag.kind = Tag::kEnd;
        tag.name = Name();
        SkipBlanks();
        Expect('>');
        return tag;
      }
      ++pos_;
      tag.kind = Tag::kStart;
      tag.name = Name();
      for (;;) {
        SkipBlanks();
        if (At("/>")) {
          pos_ += 2;
          tag.empty = true;
          return tag;
        }
        if (At(">")) {
          ++pos_;
          return tag;
        }
        Attr attr;
        attr.name = Name();
        SkipBlanks();
        Expect('=');
        SkipBlanks();
        Expect('"');   // single quotes are not accepted
        const std::size_t close = s_.find('"', pos_);
        if (close == std::string_view::npos) Mismatch();
        attr.raw = s_.substr(pos_, close - pos_);
        pos_ = close + 1;
        tag.attrs.push_back(attr);
      }
    }
  }

 private:
  bool At(std::string_view text) const { return s_.substr(pos_, text.size()) == text; }
  bool Skip(std::string_view open, std::string_view close) {
    if (!At(open)) return false;
    const std::size_t end = s_.find(close, pos_ + open.size());
    if (end == std::string_view::npos) Mismatch();
    pos_ = end + close.size();
    return true;
  }
  void SkipBlanks() {
    while (pos_ < s_.size() && IsBlank(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  void Expect(char c) {
    if (pos_ >= s_.size() || s_[pos_] != c) Mismatch();
    ++pos_;
  }
  std::string_view Name() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && IsNameChar(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    if (pos_ == start) Mismatch();
    return s_.substr(start, pos_ - start);
  }

  std::string_view s_;
  std::size_t pos_;
};

struct RawRow {
  std::uint32_t state = 0;
  std::vector<std::pair<std::string, std::string>> values;   // name, 8-bit value
};

constexpr std::uint32_t kRowOriginal = 1;
constexpr std::uint32_t kRowDeleted = 2;
constexpr std::uint32_t kRowModified = 8;

class Reader {
 public:
  Reader(std::string_view bytes, std::size_t start, bool utf8, std::string_view page)
      : lex_(bytes, start), utf8_(utf8), page_(page) {}

  DataPacket Read() {
    Tag first = lex_.Next();
    if (first.kind != Tag::kStart) Mismatch();
    if (first.name == "DATAPACKET") {
      if (first.empty) Mismatch();
      Tag t = lex_.Next();
      if (t.kind != Tag::kStart || (t.name != "METADATA" && t.name != "ROWDATA")) Mismatch();
      for (;; t = lex_.Next()) {
        if (t.kind == Tag::kEof) Mismatch();
        if (t.kind == Tag::kEnd) {
          if (t.name != "DATAPACKET") Mismatch();
          break;
        }
        Section(t);
      }
    } else {
      if (first.name != "METADATA" && first.name != "ROWDATA") Mismatch();
      for (Tag t = std::move(first); t.kind != Tag::kEof; t = lex_.Next()) {
        if (t.kind == Tag::kEnd) Mismatch();
        Section(t);
      }
    }
    return Finish();
  }

 private:
  // Text of an attribute value in the 8-bit code page.
  std::string Decode(std::string_view raw) const {
    std::string out, run;
    const auto flush = [&] {
      out += utf8_ ? util::Utf8ToCodePage(run, page_) : run;
      run.clear();
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        run += raw[i];
        continue;
      }
      const std::size_t semi = raw.find(';', i + 1);
      if (semi == std::string_view::npos) Mismatch();
      const std::string_view entity = raw.substr(i + 1, semi - i - 1);
      i = semi;
      if (entity == "lt") run += '<';
      else if (entity == "gt") run += '>';
      else if (entity == "amp") run += '&';
      else if (entity == "quot") run += '"';
      else if (entity == "apos") run += '\'';
      else if (entity.size() >= 2 && entity[0] == '#') {
        const bool hex = entity[1] == 'x';
        const std::string_view digits = entity.substr(hex ? 2 : 1);
        if (digits.empty()) Mismatch();
        std::uint32_t code = 0;   // wraps: only the low 8 bits count
        for (const char c : digits) {
          std::uint32_t d;
          if (c >= '0' && c <= '9') d = static_cast<std::uint32_t>(c - '0');
          else if (hex && c >= 'a' && c <= 'f') d = static_cast<std::uint32_t>(c - 'a' + 10);
          else if (hex && c >= 'A' && c <= 'F') d = static_cast<std::uint32_t>(c - 'A' + 10);
          else Mismatch();
          code = code * (hex ? 16u : 10u) + d;
        }
        flush();
        out += static_cast<char>(code & 0xFF);
      } else {
        Mismatch();
      }
    }
    flush();
    return out;
  }

  std::string DecodeName(std::string_view name) const {
    return utf8_ ? util::Utf8ToCodePage(name, page_) : std::string(name);
  }

  void SkipSubtree(const Tag& start) {
    if (start.empty) return;
    std::vector<std::string_view> open{start.name};
    while (!open.empty()) {
      Tag t = lex_.Next();
      if (t.kind == Tag::kEof) Mismatch();
      if (t.kind == Tag::kStart) {
        if (!t.empty) open.push_back(t.name);
      } else {
        if (t.name != open.back()) Mismatch();
        open.pop_back();
      }
    }
  }

  void Section(const Tag& t) {
    if (t.name == "METADATA") Metadata(t);
    else if (t.name == "ROWDATA") Rowdata(t);
    else SkipSubtree(t);
  }

  void Metadata(const Tag& meta) {
    if (meta.empty) Mismatch();
    Tag fields = lex_.Next();
    if (fields.kind != Tag::kStart || fields.name != "FIELDS") Mismatch();
    const bool first_metadata = !seen_metadata_;
    seen_metadata_ = true;
    if (!fields.empty) {
      for (Tag t = lex_.Next();; t = lex_.Next()) {
        if (t.kind == Tag::kEof) Mismatch();
        if (t.kind == Tag::kEnd) {
          if (t.name != "FIELDS") Mismatch();
          break;
        }
        if (t.name == "FIELD") {
          PacketField f = Field(t);
          if (first_metadata) fields_.push_back(std::move(f));
        }
        SkipSubtree(t);   // a nested table's own declarations
      }
    }
    for (Tag t = lex_.Next();; t = lex_.Next()) {
      if (t.kind == Tag::kEof) Mismatch();
      if (t.kind == Tag::kEnd) {
        if (t.name != "METADATA") Mismatch();
        return;
      }
      for (const Attr& a : t.attrs) Decode(a.raw);   // PARAMS: checked, not used
      SkipSubtree(t);
    }
  }

  PacketField Field(const Tag& t) const {
    PacketField f;
    const Attr* name = t.Find("attrname");
    if (name == nullptr) name = t.Find("tagname");
    if (name == nullptr) Mismatch();
    f.name = Decode(name->raw);
    const Attr* type = t.Find("fieldtype");
    if (type != nullptr) f.type = Decode(type->raw);
    if (!IsKnownFieldType(f.type)) throw DataPacketError(kMsgInvalidFieldType, false);
    if (const Attr* sub = t.Find("SUBTYPE")) f.subtype = Decode(sub->raw);
    if (const Attr* width = t.Find("WIDTH")) {
      const std::string w = Decode(width->raw);
      std::int64_t value = 0;
      bool ok = !w.empty() && w.size() <= 9;   // nine digits at most: no overflow
      for (std::size_t i = 0; ok && i < w.size(); ++i) {
        if (w[i] < '0' || w[i] > '9') ok = false;
        else value = value * 10 + (w[i] - '0');
      }
      f.width = ok ? static_cast<std::int32_t>(value) : 0;
    }
    for (const Attr& a : t.attrs) Decode(a.raw);   // every value must be well formed
    return f;
  }

  void Rowdata(const Tag& data) {
    if (data.empty) return;
    for (Tag t = lex_.Next();; t = lex_.Next()) {
      if (t.kind == Tag::kEof) Mismatch();
      if (t.kind == Tag::kEnd) {
        if (t.name != "ROWDATA") Mismatch();
        return;
      }
      if (t.name == "ROW") rows_.push_back(Row(t));
      SkipSubtree(t);   // rows of a nested table
    }
  }

  RawRow Row(const Tag& t) const {
    RawRow row;
    for (const Attr& a : t.attrs) {
      if (a.name == "RowState") {
        const std::string v = Decode(a.raw);
        if (v.empty() || v.size() > 9) Mismatch();
        for (const char c : v) {
          if (c < '0' || c > '9') Mismatch();
          row.state = row.state * 10 + static_cast<std::uint32_t>(c - '0');
        }
        continue;
      }
      row.values.emplace_back(DecodeName(a.name), Decode(a.raw));
    }
    return row;
  }

  PacketRow Present(const RawRow& raw) const {
    PacketRow row;
    row.values.resize(fields_.size());
    for (std::size_t f = 0; f < fields_.size(); ++f)
      for (const auto& [name, value] : raw.values)
        if (name == fields_[f].name) {
          row.values[f] = value;
          break;
        }
    return row;
  }

  DataPacket Finish() {
    DataPacket packet;
    packet.utf8 = utf8_;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const RawRow& r = rows_[i];
      if (r.state & kRowDeleted) continue;
      if ((r.state & kRowOriginal) && i + 1 < rows_.size() &&
          (rows_[i + 1].state & kRowModified)) {
        const RawRow& changed = rows_[++i];
        if (changed.state & kRowDeleted) continue;
        PacketRow row = Present(r);
        const PacketRow update = Present(changed);
        for (std::size_t f = 0; f < row.values.size(); ++f)
          if (update.values[f]) row.values[f] = update.values[f];
        packet.rows.push_back(std::move(row));
        continue;
      }
      packet.rows.push_back(Present(r));
    }
    packet.fields = std::move(fields_);
    return packet;
  }

  Lexer lex_;
  bool utf8_;
  std::string page_;
  bool seen_metadata_ = false;
  std::vector<PacketField> fields_;
  std::vector<RawRow> rows_;
};

struct TypeName {
  const char* type;
  const char* display;
};

constexpr TypeName kTypes[] = {
    {"boolean", "Boolean"},       {"bin.hex", "Blob"},
    {"date", "Date"},             {"dateTime", "DateTime"},
    {"SQLdateTime", "TimeStamp"}, {"SQLdateTimeOffset", "TimeStampOffset"},
    {"fixed", "BCD"},             {"fixedFMT", "FMTBcd"},
    {"i1", "ShortInt"},           {"i2", "SmallInt"},
    {"i4", "Integer"},            {"i8", "LargeInt"},
    {"int", "Integer"},           {"IntArray", "Array"},
    {"r4", "Single"},             {"r8", "Float"},
    {"r10", "Extended"},          {"string", "String"},
    {"string.uni", "WideString"}, {"time", "Time"},
    {"ui1", "Byte"},              {"ui2", "Word"},
    {"ui4", "LongWord"},          {"ui8", "LargeInt"},
    {"uint", "LongWord"},         {"UIntArray", "Array"},
    {"nested", "DataSet"},        {"struct", "ADT"},
};

// Subtypes that give a column of another kind.
struct SubtypeName {
  const char* type;
  const char* subtype;
  const char* display;
};
constexpr SubtypeName kSubtypes[] = {
    {"bin.hex", "Text", "Memo"},         {"bin.hex", "WideText", "WideMemo"},
    {"bin.hex", "Graphics", "Graphic"},  {"bin.hex", "Formatted", "FmtMemo"},
    {"i4", "Autoinc", "AutoInc"},        {"r8", "Money", "Currency"},
};

}  // namespace

bool IsKnownFieldType(std::string_view type) {
  for (const TypeName& t : kTypes)
    if (util::AsciiIEquals(type, t.type)) return true;
  return false;
}

std::string FieldTypeDisplayName(const PacketField& field) {
  for (const SubtypeName& s : kSubtypes)
    if (util::AsciiIEquals(field.type, s.type) && util::AsciiIEquals(field.subtype, s.subtype))
      return s.display;
  for (const TypeName& t : kTypes)
    if (util::AsciiIEquals(field.type, t.type)) return t.display;
  return "Unknown";
}

bool IsUtf8Packet(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return true;
  std::size_t i = 0;
  while (i < bytes.size() && IsBlank(static_cast<unsigned char>(bytes[i]))) ++i;
  if (bytes.substr(i, 5) != "<?xml") return false;
  const std::size_t end = bytes.find("?>", i);
  if (end == std::string_view::npos) return false;
  // Pseudo-attributes of the declaration: name = "value" (or 'value').
  std::string_view decl = bytes.substr(i + 5, end - i - 5);
  while (!decl.empty()) {
    std::size_t k = 0;
    while (k < decl.size() && IsBlank(static_cast<unsigned char>(decl[k]))) ++k;
    std::size_t name_end = k;
    while (name_end < decl.size() && IsNameChar(static_cast<unsigned char>(decl[name_end])))
      ++name_end;
    const std::string_view name = decl.substr(k, name_end - k);
    k = name_end;
    while (k < decl.size() && IsBlank(static_cast<unsigned char>(decl[k]))) ++k;
    if (name.empty() || k >= decl.size() || decl[k] != '=') return false;
    ++k;
    while (k < decl.size() && IsBlank(static_cast<unsigned char>(decl[k]))) ++k;
    if (k >= decl.size() || (decl[k] != '"' && decl[k] != '\'')) return false;
    const std::size_t close = decl.find(decl[k], k + 1);
    if (close == std::string_view::npos) return false;
    const std::string_view value = decl.substr(k + 1, close - k - 1);
    if (util::AsciiIEquals(name, "encoding"))
      return util::AsciiIEquals(value, "UTF-8") && util::IsValidUtf8(bytes);
    decl.remove_prefix(close + 1);
  }
  return false;
}

DataPacket ReadDataPacket(std::string_view bytes, std::string_view eight_bit_page) {
  if (bytes.empty()) throw DataPacketError(kMsgMissingPacket, true);
  const bool bom = bytes.substr(0, 3) == "\xEF\xBB\xBF";
  const bool utf8 = IsUtf8Packet(bytes);
  std::size_t start = bom ? 3 : 0;
  while (start < bytes.size() && IsBlank(static_cast<unsigned char>(bytes[start]))) ++start;
  if (start >= bytes.size() || bytes[start] != '<') Mismatch();
  // A BOM-marked file that is not valid UTF-8 still reads as UTF-8: its faulty bytes become
  // U+FFFD and then '?' in the 8-bit page.
  return Reader(bytes, start, utf8, eight_bit_page).Read();
}

}  // namespace orv::data
