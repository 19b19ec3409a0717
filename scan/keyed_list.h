#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillfen {

// An ordered, append-only list of values, each with a text key that is unique
// within the list. Positions count from 1 in the order of addition. Lists are
// shared by reference (see KeyedListRef): whoever holds one keeps it alive.
template <typename T>
class KeyedList {
 public:
  // Appends value under key. Returns false and leaves the list unchanged when
  // key is already present.
  bool Add(std::string key, T value) {
    auto [it, inserted] =
        index_.try_emplace(std::move(key), static_cast<std::int32_t>(values_.size()));
    if (!inserted) return false;
    values_.push_back(std::move(value));
    return true;
  }

  std::int32_t Count() const { return static_cast<std::int32_t>(values_.size()); }
  bool Empty() const { return values_.empty(); }

  // The value at position (1 to Count()). Throws std::out_of_range otherwise.
  const T& Item(std::int32_t position) const {
    if (position < 1 || position > Count())
      throw std::out_of_range("KeyedList position out of range");
    return values_[static_cast<std::size_t>(position - 1)];
  }

  // The value stored under key. Throws std::out_of_range when key is absent.
  const T& Item(const std::string& key) const {
    auto it = index_.find(key);
    if (it == index_.end()) throw std::out_of_range("KeyedList key not found: " + key);
    return values_[static_cast<std::size_t>(it->second)];
  }

  bool Exists(const std::string& key) const { return index_.find(key) != index_.end(); }

  // The values in order of addition.
  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }

 private:
  std::vector<T> values_;
  std::unordered_map<std::string, std::int32_t> index_;
};

template <typename T>
using KeyedListRef = std::shared_ptr<KeyedList<T>>;

// The walker's full file names after a scan, in queue order.
using QueueList = KeyedList<std::string>;
using QueueListRef = std::shared_ptr<QueueList>;

}  // namespace quillfen
