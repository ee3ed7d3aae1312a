#include "data/bound_values.h"

#include <soci/soci.h>

#include "util/text.h"

namespace orv::data {

namespace {

std::string TextFor(const std::string& utf8, bool win1252) {
  return win1252 ? util::Utf8ToWin1252(utf8) : utf8;
}

}  // namespace

void BoundStorage::Bind(soci::statement& st, const std::vector<BoundValue>& values,
                        bool win1252) {
  texts.reserve(values.size());
  integers.reserve(values.size());
  reals.reserve(values.size());
  for (const BoundValue& v : values) {
    switch (v.kind) {
      case BoundValue::kText:
        texts.push_back(TextFor(v.text, win1252));
        st.exchange(soci::use(texts.back()));
        break;
      case BoundValue::kInteger:
        integers.push_back(v.integer);
        st.exchange(soci::use(integers.back()));
        break;
      case BoundValue::kFloat:
        reals.push_back(v.real);
        st.exchange(soci::use(reals.back()));
        break;
    }
  }
}

void BoundStorage::Rewrite(const std::vector<BoundValue>& values, bool win1252) {
  std::size_t t = 0, n = 0, r = 0;
  for (const BoundValue& v : values) {
    switch (v.kind) {
      case BoundValue::kText: texts[t++] = TextFor(v.text, win1252); break;
      case BoundValue::kInteger: integers[n++] = v.integer; break;
      case BoundValue::kFloat: reals[r++] = v.real; break;
    }
  }
}

}  // namespace orv::data
