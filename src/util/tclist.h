// TCList: an ordered list of named items (in this system: SQL connections, each named by the
// collector user that owns it). Two parallel sequences of equal length; indexes are 0-based;
// names need not be unique and lookups find the first entry; name comparison is exact.
// The list does not own what its items point to.
//
// Thread safety: none. An operation that changes a list must not overlap any other operation
// on the same list; the owner serialises access.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::util {

// Raised by Pop, Shift, Item and ByName outside their preconditions.
class TCListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

template <class T>
class TCList {
 public:
  void Add(T Item, std::string Name) {
    items_.push_back(std::move(Item));
    names_.push_back(std::move(Name));
  }
  void Push(T Item, std::string Name) { Add(std::move(Item), std::move(Name)); }
  T Pop() {
    if (items_.empty()) throw TCListError("Lista vazia: não há item para retirar do fim");
    T item = std::move(items_.back());
    items_.pop_back();
    names_.pop_back();
    return item;
  }
  void UnShift(T Item, std::string Name) {
    items_.insert(items_.begin(), std::move(Item));
    names_.insert(names_.begin(), std::move(Name));
  }
  T Shift() {
    if (items_.empty()) throw TCListError("Lista vazia: não há item para retirar do início");
    T item = std::move(items_.front());
    items_.erase(items_.begin());
    names_.erase(names_.begin());
    return item;
  }
  const T& Item(std::int32_t ItemIndex) const {
    if (ItemIndex < 0 || ItemIndex >= Length())
      throw TCListError("Índice " + std::to_string(ItemIndex) + " fora da lista (" +
                        std::to_string(Length()) + " itens)");
    return items_[static_cast<std::size_t>(ItemIndex)];
  }
  bool IsEmpty() const { return items_.empty(); }
  std::int32_t Length() const { return static_cast<std::int32_t>(items_.size()); }
  std::int32_t IndexOf(std::string_view Name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (names_[i] == Name) return static_cast<std::int32_t>(i);
    return -1;
  }
  const T& ByName(std::string_view Name) const {
    const std::int32_t i = IndexOf(Name);
    if (i < 0) throw TCListError("Nome não encontrado na lista: \"" + std::string(Name) + "\"");
    return items_[static_cast<std::size_t>(i)];
  }
  const std::string& NameAt(std::int32_t ItemIndex) const {
    Item(ItemIndex);  // range check
    return names_[static_cast<std::size_t>(ItemIndex)];
  }

 private:
  std::vector<T> items_;
  std::vector<std::string> names_;
};

}  // namespace orv::util
