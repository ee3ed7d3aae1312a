#include "soap/xml_shape.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "soap/soap_limits.h"

namespace orv::soap {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Code units of the document as characters; markup characters keep their ASCII values.
class ByteUnits {
 public:
  explicit ByteUnits(std::string_view s) : s_(s) {}
  std::size_t size() const { return s_.size(); }
  char32_t operator[](std::size_t i) const { return static_cast<unsigned char>(s_[i]); }
  std::size_t Find(std::size_t from, char32_t c) const {
    if (from >= s_.size()) return npos;
    const void* p = std::memchr(s_.data() + from, static_cast<int>(c), s_.size() - from);
    return p ? static_cast<std::size_t>(static_cast<const char*>(p) - s_.data()) : npos;
  }

 private:
  std::string_view s_;
};

// UTF-16 or UCS-4 in either byte order.
template <int kWidth>
class WideUnits {
 public:
  WideUnits(std::string_view s, bool big_endian) : s_(s), big_(big_endian) {}
  std::size_t size() const { return s_.size() / kWidth; }
  char32_t operator[](std::size_t i) const {
    char32_t v = 0;
    for (int b = 0; b < kWidth; ++b) {
      const auto byte = static_cast<unsigned char>(s_[i * kWidth + (big_ ? b : kWidth - 1 - b)]);
      v = (v << 8) | byte;
    }
    return v;
  }
  std::size_t Find(std::size_t from, char32_t c) const {
    for (std::size_t i = from; i < size(); ++i)
      if ((*this)[i] == c) return i;
    return npos;
  }

 private:
  std::string_view s_;
  bool big_;
};

// EBCDIC (code page 037): the markup characters and letters mapped to ASCII.
class EbcdicUnits {
 public:
  explicit EbcdicUnits(std::string_view s) : s_(s) {
    static const std::array<char32_t, 256> table = [] {
      std::array<char32_t, 256> t{};
      for (std::size_t i = 0; i < t.size(); ++i) t[i] = 0x100 + static_cast<char32_t>(i);
      const std::pair<unsigned char, char> pairs[] = {
          {0x4C, '<'}, {0x6E, '>'}, {0x61, '/'}, {0x5A, '!'}, {0x6F, '?'}, {0x60, '-'},
          {0xBA, '['}, {0xBB, ']'}, {0x7F, '"'}, {0x7D, '\''}, {0x7E, '='}, {0x40, ' '},
          {0x05, '\t'}, {0x25, '\n'}, {0x0D, '\r'}, {0x7A, ':'}};
      for (const auto& [e, a] : pairs) t[e] = static_cast<char32_t>(a);
      const struct {
        unsigned char first;
        char from, to;
      } letters[] = {{0x81, 'a', 'i'}, {0x91, 'j', 'r'}, {0xA2, 's', 'z'},
                     {0xC1, 'A', 'I'}, {0xD1, 'J', 'R'}, {0xE2, 'S', 'Z'}};
      for (const auto& l : letters)
        for (char c = l.from; c <= l.to; ++c)
          t[static_cast<unsigned char>(l.first + (c - l.from))] = static_cast<char32_t>(c);
      return t;
    }();
    table_ = &table;
  }
  std::size_t size() const { return s_.size(); }
  char32_t operator[](std::size_t i) const { return (*table_)[static_cast<unsigned char>(s_[i])]; }
  std::size_t Find(std::size_t from, char32_t c) const {
    for (std::size_t i = from; i < s_.size(); ++i)
      if ((*this)[i] == c) return i;
    return npos;
  }

 private:
  std::string_view s_;
  const std::array<char32_t, 256>* table_;
};

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

template <class Units>
class Scanner {
 public:
  Scanner(const Units& u, std::size_t budget) : u_(u), n_(u.size()), budget_(budget) {}

  std::optional<ShapeProblem> Run() {
    std::size_t i = 0;
    while (i < n_ && !problem_) {
      if (u_[i] != '<') {   // a run of text up to the next markup
        i = u_.Find(i, '<');
        if (i == npos) i = n_;
        Count(1, i, Kind::kText);
        continue;
      }
      const char32_t next = At(i + 1);
      if (next == '/') {   // an end tag
        const std::size_t end = u_.Find(i, '>');
        if (end == npos) break;
        if (!open_.empty()) {
          in_scope_ -= open_.back();
          open_.pop_back();
        }
        last_ = Kind::kOther;
        i = end + 1;
      } else if (next == '?') {   // a processing instruction (or the XML declaration)
        const std::size_t end = FindText(i + 2, U"?>");
        if (end == npos) break;
        Count(1, i, Kind::kOther);
        i = end + 2;
      } else if (next == '!') {
        if (Matches(i + 2, U"--")) {
          const std::size_t end = FindText(i + 4, U"-->");
          if (end == npos) break;
          Count(1, i, Kind::kOther);
          i = end + 3;
        } else if (Matches(i + 2, U"[CDATA[")) {
          const std::size_t end = FindText(i + 9, U"]]>");
          if (end == npos) break;
          // Sections that follow each other are joined into one node.
          if (last_ != Kind::kCData) Count(1, i, Kind::kCData);
          i = end + 3;
        } else {
          break;   // a document type declaration or broken markup: the library decides
        }
      } else {
        i = StartTag(i);
        if (i == npos) break;
      }
    }
    return problem_;
  }

 private:
  enum class Kind { kText, kCData, kOther };

  char32_t At(std::size_t i) const { return i < n_ ? u_[i] : 0; }
  bool Matches(std::size_t i, std::u32string_view text) const {
    for (std::size_t k = 0; k < text.size(); ++k)
      if (At(i + k) != text[k]) return false;
    return true;
  }
  std::size_t FindText(std::size_t from, std::u32string_view text) const {
    for (std::size_t i = u_.Find(from, text[0]); i != npos; i = u_.Find(i + 1, text[0]))
      if (Matches(i, text)) return i;
    return npos;
  }

  void Count(std::size_t nodes, std::size_t at, Kind kind) {
    last_ = kind;
    nodes_ += nodes;
    if (nodes_ > budget_)
      Fail(at, "Excessive node count in document: more than " + std::to_string(budget_) +
                   " nodes for its size");
  }
  void Fail(std::size_t at, std::string reason) {
    if (problem_) return;
    problem_ = ShapeProblem{std::move(reason), LineAt(at)};
  }
  int LineAt(std::size_t at) const {
    int line = 1;
    for (std::size_t i = 0; i < at && i < n_; ++i) {
      const char32_t c = u_[i];
      if (c == '\n' || (c == '\r' && At(i + 1) != '\n')) ++line;
    }
    return line;
  }

  // A start tag from its "<": its attributes and namespace declarations counted. Returns the
  // position after it, or npos at the end of the document.
  std::size_t StartTag(std::size_t start) {
    std::size_t j = start + 1;
    while (j < n_ && !IsSpace(u_[j]) && u_[j] != '>' && u_[j] != '/') ++j;
    std::size_t attributes = 0;
    std::size_t declarations = 0;
    for (;;) {
      while (j < n_ && IsSpace(u_[j])) ++j;
      if (j >= n_) return npos;
      const char32_t c = u_[j];
      if (c == '>' || (c == '/' && At(j + 1) == '>')) {
        const bool empty = c == '/';
        if (in_scope_ + declarations > kMaxNamespacesInScope)
          Fail(start, "Excessive namespace declarations in scope: more than " +
                          std::to_string(kMaxNamespacesInScope));
        Count(1 + 2 * (attributes - declarations) + declarations, start, Kind::kOther);
        if (!empty) {
          open_.push_back(declarations);
          in_scope_ += declarations;
          if (open_.size() > static_cast<std::size_t>(kMaxElementDepth))
            Fail(start, "Excessive depth in document: more than " +
                            std::to_string(kMaxElementDepth) + " nested elements");
        }
        return j + (empty ? 2 : 1);
      }
      if (c == '/' || c == '=' || c == '"' || c == '\'') {   // broken markup: step over it
        ++j;
        continue;
      }
      // An attribute: its name, "=", its quoted value.
      const std::size_t name = j;
      while (j < n_ && !IsSpace(u_[j]) && u_[j] != '=' && u_[j] != '>' && u_[j] != '/') ++j;
      if (++attributes > kMaxAttributesPerElement) {
        Fail(start, "Excessive attribute count in element: more than " +
                        std::to_string(kMaxAttributesPerElement) + " attributes");
        return npos;
      }
      if (Matches(name, U"xmlns") && (j == name + 5 || At(name + 5) == ':')) ++declarations;
      while (j < n_ && IsSpace(u_[j])) ++j;
      if (At(j) != '=') continue;
      ++j;
      while (j < n_ && IsSpace(u_[j])) ++j;
      const char32_t quote = At(j);
      if (quote != '"' && quote != '\'') continue;
      const std::size_t close = u_.Find(j + 1, quote);
      if (close == npos) return npos;
      j = close + 1;
    }
  }

  const Units& u_;
  const std::size_t n_;
  const std::size_t budget_;
  std::size_t nodes_ = 0;
  std::vector<std::size_t> open_;   // namespace declarations of each open element
  std::size_t in_scope_ = 0;
  Kind last_ = Kind::kOther;
  std::optional<ShapeProblem> problem_;
};

template <class Units>
std::optional<ShapeProblem> Scan(const Units& units, std::size_t bytes) {
  return Scanner<Units>(units, XmlNodeBudget(bytes)).Run();
}

}  // namespace

std::size_t XmlNodeBudget(std::size_t bytes) {
  return kFreeXmlNodes + bytes / kBodyBytesPerXmlNode;
}

std::optional<ShapeProblem> CheckXmlShape(std::string_view d) {
  const auto b = [&](std::size_t i) { return i < d.size() ? static_cast<unsigned char>(d[i]) : -1; };
  // The encodings the library recognises from the first bytes.
  if (b(0) == 0 && b(1) == 0 && ((b(2) == 0 && b(3) == '<') || (b(2) == 0xFE && b(3) == 0xFF)))
    return Scan(WideUnits<4>(d, true), d.size());
  if (b(0) == '<' && b(1) == 0 && b(2) == 0 && b(3) == 0)
    return Scan(WideUnits<4>(d, false), d.size());
  if (b(0) == 0xFE && b(1) == 0xFF) return Scan(WideUnits<2>(d.substr(2), true), d.size());
  if (b(0) == 0xFF && b(1) == 0xFE) return Scan(WideUnits<2>(d.substr(2), false), d.size());
  if (b(0) == 0 && b(1) == '<') return Scan(WideUnits<2>(d, true), d.size());
  if (b(0) == '<' && b(1) == 0) return Scan(WideUnits<2>(d, false), d.size());
  if (b(0) == 0x4C && b(1) == 0x6F && b(2) == 0xA7 && b(3) == 0x94)
    return Scan(EbcdicUnits(d), d.size());
  return Scan(ByteUnits(d), d.size());
}

}  // namespace orv::soap
