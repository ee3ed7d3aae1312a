#include "soap/mime_multipart.h"

#include "util/text.h"

namespace orv::soap {

namespace {

constexpr std::string_view kMultipartPrefix = "multipart/related; boundary=";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Unquote(std::string_view v) {
  v = Trim(v);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return std::string(v);
}

// Length of the line break at `pos` (CR LF or LF), 0 when none.
std::size_t LineBreakAt(std::string_view s, std::size_t pos) {
  if (pos < s.size() && s[pos] == '\n') return 1;
  if (pos + 1 < s.size() && s[pos] == '\r' && s[pos + 1] == '\n') return 2;
  return 0;
}

// Finds the next delimiter line "--boundary" that starts at `from` or after a line break.
// Returns the position of the "--"; sets `before` to where the preceding content ends.
std::size_t FindDelimiter(std::string_view body, std::string_view dash_boundary,
                          std::size_t from, std::size_t& before) {
  std::size_t pos = from;
  while (true) {
    pos = body.find(dash_boundary, pos);
    if (pos == std::string_view::npos) return pos;
    if (pos == 0) {
      before = 0;
      return pos;
    }
    if (body[pos - 1] == '\n') {
      before = (pos >= 2 && body[pos - 2] == '\r') ? pos - 2 : pos - 1;
      if (before < from) before = from;
      return pos;
    }
    ++pos;
  }
}

MimePart ParsePart(std::string_view raw) {
  MimePart part;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    std::size_t eol = raw.find('\n', pos);
    if (eol == std::string_view::npos) eol = raw.size();
    std::string_view line = raw.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = eol + 1;
    if (line.empty()) {
      part.body = std::string(raw.substr(std::min(pos, raw.size())));
      return part;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    part.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                              std::string(Trim(line.substr(colon + 1))));
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
    std::string_view param = Trim(content_type.substr(pos, end - pos));
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && util::AsciiIEquals(Trim(param.substr(0, eq)), name)) {
      return Unquote(param.substr(eq + 1));
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

  std::vector<MimePart> parts;
  std::size_t before = 0;
  std::size_t pos = FindDelimiter(body, dash, 0, before);
  while (pos != std::string_view::npos) {
    std::size_t after = pos + dash.size();
    if (body.substr(after, 2) == "--") break;  // closing delimiter
    // Rest of the delimiter line (transport padding) up to its line break.
    while (after < body.size() && (body[after] == ' ' || body[after] == '\t')) ++after;
    const std::size_t lb = LineBreakAt(body, after);
    if (lb == 0) return std::nullopt;
    const std::size_t start = after + lb;
    std::size_t content_end = 0;
    const std::size_t next = FindDelimiter(body, dash, start, content_end);
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
