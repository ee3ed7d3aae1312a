// Our reader of XML data packets, the table-exchange format of SCONF.xml: DATAPACKET (optional),
// METADATA with FIELDS/FIELD (and PARAMS), ROWDATA with ROW. It decides the text encoding
// (UTF-8 or an 8-bit code page), resolves escapes and character references, applies the
// change log that RowState marks, and returns the column declarations and the rows as the
// table presents them. Text column values are returned as bytes in the given 8-bit code page.
// The grammar and the error texts are those of the format; see the .cpp for the details.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orv::data {

// A packet the reader rejects. table_message: the text is one that the table reports, which
// callers show after the table's name and ": ".
class DataPacketError : public std::runtime_error {
 public:
  DataPacketError(const std::string& message, bool table)
      : std::runtime_error(message), table_message(table) {}
  bool table_message;
};

inline constexpr const char* kMsgMismatch = "Mismatch in datapacket.";
inline constexpr const char* kMsgInvalidFieldType = "Invalid field type.";
inline constexpr const char* kMsgMissingPacket = "Missing data provider or data packet";

struct PacketField {
  std::string name;      // attrname, or tagname when attrname is absent (8-bit bytes)
  std::string type;      // fieldtype as written (one of the format's type names, any case)
  std::string subtype;   // SUBTYPE, "" when absent
  std::int32_t width = 0;   // WIDTH; 0 when absent or not a number
};

struct PacketRow {
  std::vector<std::optional<std::string>> values;   // one per field; nullopt: null value
};

struct DataPacket {
  bool utf8 = false;   // the file's text was UTF-8
  std::vector<PacketField> fields;
  std::vector<PacketRow> rows;   // after the change log: the records the table presents
};

// True when the file is UTF-8: it begins with the UTF-8 byte-order mark, or its XML
// declaration says encoding "UTF-8" (any case) and every byte forms valid UTF-8.
bool IsUtf8Packet(std::string_view bytes);

// Reads a packet. eight_bit_page: the single-byte code page of the text columns (the bytes
// of an 8-bit file are in it; the characters of a UTF-8 file are converted to it, a
// character that it lacks becoming '?'). Raises DataPacketError.
DataPacket ReadDataPacket(std::string_view bytes, std::string_view eight_bit_page);

// The name by which a column type is shown in messages ("String", "WideString", "Integer").
std::string FieldTypeDisplayName(const PacketField& field);
// True when the type name is one that the format knows (compared without regard to case).
bool IsKnownFieldType(std::string_view type);

}  // namespace orv::data
