#include "soap/xml_writer.h"

#include <cstdint>

namespace orv::soap {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at s[i] that XML may carry, or 0.
std::size_t ValidSequence(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t len;
  std::uint32_t cp;
  if (b0 < 0xC2) return 0;  // continuation byte or overlong 2-byte lead
  if (b0 < 0xE0) {
    len = 2;
    cp = b0 & 0x1Fu;
  } else if (b0 < 0xF0) {
    len = 3;
    cp = b0 & 0x0Fu;
  } else if (b0 < 0xF5) {
    len = 4;
    cp = b0 & 0x07u;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  if (cp == 0xFFFE || cp == 0xFFFF) return 0;  // not XML characters
  return len;
}

// Appends `s` escaped; `attr` selects attribute-value escaping.
void AppendEscaped(std::string& out, std::string_view s, bool attr) {
  out.reserve(out.size() + s.size());
  std::size_t run = 0;  // start of the pending run copied unchanged
  std::size_t i = 0;
  auto flush = [&](std::size_t end) {
    if (end > run) out.append(s.data() + run, end - run);
  };
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t len = ValidSequence(s, i);
      if (len != 0) {
        i += len;
        continue;
      }
      flush(i);
      out += kReplacement;
      run = ++i;
      continue;
    }
    std::string_view rep;
    switch (c) {
      case '&': rep = "&amp;"; break;
      case '<': rep = "&lt;"; break;
      case '>': rep = "&gt;"; break;
      case '"': rep = attr ? "&quot;" : ""; break;
      case '\t': rep = attr ? "&#9;" : ""; break;
      case '\n': rep = attr ? "&#10;" : ""; break;
      case '\r': rep = attr ? "&#13;" : ""; break;
      default:
        if (c < 0x20) rep = kReplacement;
        break;
    }
    if (rep.empty()) {
      ++i;
      continue;
    }
    flush(i);
    out += rep;
    run = ++i;
  }
  flush(i);
}

}  // namespace

void XmlWriter::AppendText(std::string& out, std::string_view text) {
  AppendEscaped(out, text, false);
}

void XmlWriter::AppendAttr(std::string& out, std::string_view value) {
  AppendEscaped(out, value, true);
}

std::string XmlWriter::EscapeText(std::string_view text) {
  std::string out;
  AppendText(out, text);
  return out;
}

std::string XmlWriter::EscapeAttr(std::string_view value) {
  std::string out;
  AppendAttr(out, value);
  return out;
}

XmlWriter& XmlWriter::Declaration(std::string_view encoding) {
  out_ += "<?xml version=\"1.0\"";
  if (!encoding.empty()) {
    out_ += " encoding=\"";
    AppendAttr(out_, encoding);
    out_ += '"';
  }
  out_ += "?>";
  return *this;
}

void XmlWriter::EndStartTag() {
  if (tag_open_) {
    out_ += '>';
    tag_open_ = false;
  }
}

void XmlWriter::NewLine(std::size_t level) {
  out_ += '\n';
  out_.append(level * static_cast<std::size_t>(indent_), ' ');
}

XmlWriter& XmlWriter::Open(std::string_view name) {
  EndStartTag();
  if (!open_.empty()) {
    open_.back().has_content = true;
    open_.back().has_child_elements = true;
    if (indent_ > 0) NewLine(open_.size());
  }
  out_ += '<';
  out_ += name;
  tag_open_ = true;
  open_.push_back(Frame{std::string(name)});
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, std::string_view value) {
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  AppendAttr(out_, value);
  out_ += '"';
  return *this;
}

XmlWriter& XmlWriter::Text(std::string_view text) {
  if (text.empty()) return *this;
  EndStartTag();
  if (!open_.empty()) open_.back().has_content = true;
  AppendText(out_, text);
  return *this;
}

XmlWriter& XmlWriter::Raw(std::string_view markup) {
  if (markup.empty()) return *this;
  EndStartTag();
  if (!open_.empty()) open_.back().has_content = true;
  out_ += markup;
  return *this;
}

XmlWriter& XmlWriter::Close() {
  if (open_.empty()) return *this;
  Frame& f = open_.back();
  if (!f.has_content) {
    out_ += "/>";
    tag_open_ = false;
  } else {
    EndStartTag();
    if (indent_ > 0 && f.has_child_elements) NewLine(open_.size() - 1);
    out_ += "</";
    out_ += f.name;
    out_ += '>';
  }
  open_.pop_back();
  return *this;
}

XmlWriter& XmlWriter::Element(std::string_view name, std::string_view text) {
  Open(name);
  Text(text);
  return Close();
}

XmlWriter& XmlWriter::CloseAll() {
  while (!open_.empty()) Close();
  return *this;
}

std::string XmlWriter::TakeWritten() {
  std::string result = std::move(out_);
  out_.clear();
  return result;
}

std::string XmlWriter::Take() {
  CloseAll();
  std::string result = std::move(out_);
  out_.clear();
  return result;
}

}  // namespace orv::soap
