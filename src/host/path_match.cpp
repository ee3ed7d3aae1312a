// Path patterns of the web dispatch.
#include "host/path_match.h"

namespace orv::host {
namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches one character against the set starting after "[" at pattern[p]; on return p points
// past the closing "]". An unclosed "[" is an ordinary character.
bool MatchSet(std::string_view pattern, std::size_t& p, char c, bool& valid) {
  std::size_t i = p + 1;
  bool negate = false;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
    negate = true;
    ++i;
  }
  bool found = false;
  bool first = true;
  while (i < pattern.size() && (pattern[i] != ']' || first)) {
    first = false;
    char lo = Fold(pattern[i]);
    char hi = lo;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      hi = Fold(pattern[i + 2]);
      i += 2;
    }
    if (Fold(c) >= lo && Fold(c) <= hi) found = true;
    ++i;
  }
  if (i >= pattern.size()) {
    valid = false;   // no closing bracket
    return false;
  }
  valid = true;
  p = i + 1;
  return found != negate;
}

}  // namespace

bool MatchesPathPattern(std::string_view path, std::string_view pattern) {
  std::size_t s = 0, p = 0;
  std::size_t star_p = std::string_view::npos, star_s = 0;
  while (s < path.size()) {
    if (p < pattern.size()) {
      const char pc = pattern[p];
      if (pc == '*') {
        star_p = p++;
        star_s = s;
        continue;
      }
      if (pc == '?') {
        ++p;
        ++s;
        continue;
      }
      if (pc == '[') {
        bool valid = false;
        std::size_t q = p;
        const bool ok = MatchSet(pattern, q, path[s], valid);
        if (valid) {
          if (ok) {
            p = q;
            ++s;
            continue;
          }
        } else if (Fold(path[s]) == '[') {
          ++p;
          ++s;
          continue;
        }
      } else if (Fold(pc) == Fold(path[s])) {
        ++p;
        ++s;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    // Let the last "*" take one more character and try again.
    p = star_p + 1;
    s = ++star_s;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::string NormalisePathPattern(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  if (out.empty() || out.front() != '/') out.insert(out.begin(), '/');
  return out;
}

}  // namespace orv::host
