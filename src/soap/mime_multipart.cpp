#include "soap/mime_multipart.h"

#include <vector>

#include "util/text.h"

namespace orv::soap {

namespace {

constexpr std::string_view kMultipartPrefix = "multipart/related; boundary=";

// Length of the line break at `pos` (CR LF or LF), 0 when none.
std::size_t LineBreakAt(std::string_view s, std::size_t pos) {
  if (pos < s.size() && s[pos] == '\n') return 1;
  if (pos + 1 < s.size() && s[pos] == '\r' && s[pos + 1] == '\n') return 2;
  return 0;
}

// Finds a fixed text in linear time whatever the text and the body hold (a plain search costs
// body length times text length on bodies built for it; the boundary is the client's choice).
class Searcher {
 public:
  explicit Searcher(std::string needle) : needle_(std::move(needle)), next_(needle_.size(), 0) {
    for (std::size_t i = 1, k = 0; i < needle_.size(); ++i) {
      while (k > 0 && needle_[i] != needle_[k]) k = next_[k - 1];
      if (needle_[i] == needle_[k]) ++k;
      next_[i] = k;
    }
  }
  // The first occurrence at or after `from`, or npos.
  std::size_t Find(std::string_view text, std::size_t from) const {
    if (needle_.empty()) return from <= text.size() ? from : std::string_view::npos;
    for (std::size_t i = from, k = 0; i < text.size(); ++i) {
      while (k > 0 && text[i] != needle_[k]) k = next_[k - 1];
      if (text[i] == needle_[k]) ++k;
      if (k == needle_.size()) return i + 1 - k;
    }
    return std::string_view::npos;
  }
  std::size_t size() const { return needle_.size(); }

 private:
  std::string needle_;
  std::vector<std::size_t> next_;   // longest proper prefix that is also a suffix, per length
};

// Finds the next delimiter line "--boundary" that starts at `from` or after a line break
// (`line_delimiter` is the line feed and "--boundary"). Returns the position of the "--"; sets
// `before` to where the preceding content ends.
std::size_t FindDelimiter(std::string_view body, std::string_view dash_boundary,
                          const Searcher& line_delimiter, std::size_t from, std::size_t& before) {
  if (from == 0 && body.substr(0, dash_boundary.size()) == dash_boundary) {
    before = 0;
    return 0;
  }
  const std::size_t lf = line_delimiter.Find(body, from > 0 ? from - 1 : 0);
  if (lf == std::string_view::npos) return lf;
  before = (lf >= 1 && body[lf - 1] == '\r') ? lf - 1 : lf;
  if (before < from) before = from;
  return lf + 1;
}

MimePart ParsePart(std::string_view raw) {
  MimePart part;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    const std::string_view line = util::NextLine(raw, pos);
    if (line.empty()) {
      part.body = std::string(raw.substr(std::min(pos, raw.size())));
      return part;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    part.headers.emplace_back(std::string(util::TrimBlanks(line.substr(0, colon))),
                              std::string(util::TrimBlanks(line.substr(colon + 1))));
  }
  return part;  // headers only, empty body
}

}  // namespace

std::string MimePart::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (util::AsciiIEquals(n, name)) return v;
  }
  return {};
}

bool IsMultipartRelated(std::string_view content_type) {
  return util::AsciiIStartsWith(content_type, kMultipartPrefix);
}

std::string ContentTypeParam(std::string_view content_type, std::string_view name) {
  std::size_t pos = content_type.find(';');
  while (pos != std::string_view::npos) {
    ++pos;
    // A quoted value may hold ";".
    std::size_t end = pos;
    bool quoted = false;
    while (end < content_type.size() && (quoted || content_type[end] != ';')) {
      if (content_type[end] == '"') quoted = !quoted;
      ++end;
    }
    std::string_view param = util::TrimBlanks(content_type.substr(pos, end - pos));
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && util::AsciiIEquals(util::TrimBlanks(param.substr(0, eq)), name)) {
      return util::Unquote(param.substr(eq + 1));
    }
    pos = end < content_type.size() ? end : std::string_view::npos;
  }
  return {};
}

std::optional<MultipartMessage> ParseMultipart(std::string_view content_type,
                                               std::string_view body) {
  const std::string boundary = ContentTypeParam(content_type, "boundary");
  if (boundary.empty()) return std::nullopt;
  const std::string dash = "--" + boundary;
  const Searcher line_delimiter("\n" + dash);

  std::vector<MimePart> parts;
  std::size_t before = 0;
  std::size_t pos = FindDelimiter(body, dash, line_delimiter, 0, before);
  while (pos != std::string_view::npos) {
    std::size_t after = pos + dash.size();
    if (body.substr(after, 2) == "--") break;  // closing delimiter
    // Rest of the delimiter line (transport padding) up to its line break.
    while (after < body.size() && (body[after] == ' ' || body[after] == '\t')) ++after;
    const std::size_t lb = LineBreakAt(body, after);
    if (lb == 0) return std::nullopt;
    const std::size_t start = after + lb;
    std::size_t content_end = 0;
    const std::size_t next = FindDelimiter(body, dash, line_delimiter, start, content_end);
    if (next == std::string_view::npos) return std::nullopt;  // no closing delimiter
    parts.push_back(ParsePart(body.substr(start, content_end - start)));
    pos = next;
  }
  if (parts.empty()) return std::nullopt;

  std::size_t root = 0;
  const std::string start_id = ContentTypeParam(content_type, "start");
  if (!start_id.empty()) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].Header("Content-ID") == start_id) {
        root = i;
        break;
      }
    }
  }
  MultipartMessage msg;
  msg.root = std::move(parts[root]);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != root) msg.attachments.push_back(std::move(parts[i]));
  }
  return msg;
}

}  // namespace orv::soap
