// The values bound to a statement's parameters, and the storage they are bound from. The SQL
// client layer's own header.
//
// Thread safety: a storage belongs to the one statement bound to it.
#pragma once

#include <string>
#include <vector>

namespace soci {
class statement;
}  // namespace soci

namespace orv::data {

struct BoundValue {
  enum Kind { kText, kInteger, kFloat } kind = kText;
  std::string text;
  int integer = 0;
  double real = 0;
};

// Stable storage for a statement's bound values: the statement refers to the elements until it
// ends, so they are reserved once and never move.
struct BoundStorage {
  std::vector<std::string> texts;
  std::vector<int> integers;
  std::vector<double> reals;

  // Binds `values` to `st` in order; texts as Windows-1252 when `win1252`, else as they are.
  void Bind(soci::statement& st, const std::vector<BoundValue>& values, bool win1252);
  // New values of the same kinds, in the same order, written over the bound storage.
  void Rewrite(const std::vector<BoundValue>& values, bool win1252);
};

}  // namespace orv::data
