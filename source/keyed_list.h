#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include "source/string_store.h"

namespace quillfen {

// An ordered, append-only list of values, each with a text key that is unique
// within the list. Positions count from 1 in the order of addition. Lists are
// shared by reference (see KeyedListRef): whoever holds one keeps it alive.
//
// A scan queues hundreds of thousands of files, so the list is built to stay
// light and fast at a million entries. Strings sit packed in a StringStore
// (a queue of full file names shares most of its bytes), other values in a
// deque; both grow in blocks instead of doubling and copying. A key "K<n>"
// at position n (the walker's) is not stored at all; other keys are stored
// once, packed into one character buffer. An open-addressing hash table of
// positions finds keys without a second copy of each and without a linear
// search.
template <typename T>
class KeyedList {
 public:
  // Appends value under key. Returns false and leaves the list unchanged when
  // key is already present. Throws std::length_error when the list would
  // hold more entries than a position can count.
  bool Add(std::string key, T value) {
    if (values_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
      throw std::length_error("KeyedList is full");
    const std::size_t hash = Hash(key);
    if (FindSlot(key, hash) != kNotFound) return false;
    const auto position = static_cast<std::uint32_t>(values_.size() + 1);
    const bool implicit = IsImplicitKey(key, position);
    if (!implicit && keyBytes_.size() + key.size() > std::numeric_limits<std::uint32_t>::max())
      throw std::length_error("KeyedList keys are too long");

    // Grow the table before anything is appended, so that a failed
    // allocation leaves the list as it was.
    if ((values_.size() + 1) * kMaxLoadDenominator > slots_.size() * kMaxLoadNumerator)
      Rehash(slots_.empty() ? kInitialSlots : slots_.size() * 2);

    if (!implicit) {
      // Capacity doubles explicitly: reserve alone may grow to the exact size
      // asked for, which would copy the whole buffer on every Add.
      if (explicitKeys_.size() == explicitKeys_.capacity())
        explicitKeys_.reserve(std::max<std::size_t>(kInitialSlots, explicitKeys_.capacity() * 2));
      if (keyBytes_.size() + key.size() > keyBytes_.capacity())
        keyBytes_.reserve(std::max(keyBytes_.size() + key.size(), keyBytes_.capacity() * 2));
    }
    values_.push_back(std::move(value));
    if (!implicit) {
      keyBytes_.append(key);
      explicitKeys_.push_back({position, static_cast<std::uint32_t>(keyBytes_.size())});
    }
    Place(position, hash);
    return true;
  }

  std::int32_t Count() const { return static_cast<std::int32_t>(values_.size()); }
  bool Empty() const { return values_.empty(); }

  // The value at position (1 to Count()). Throws std::out_of_range otherwise.
  // Strings are kept packed and handed out as copies; other values by
  // reference.
  using ItemType = std::conditional_t<std::is_same_v<T, std::string>, std::string, const T&>;

  ItemType Item(std::int32_t position) const {
    if (position < 1 || position > Count())
      throw std::out_of_range("KeyedList position out of range");
    return values_[static_cast<std::size_t>(position - 1)];
  }

  // The value stored under key. Throws std::out_of_range when key is absent.
  ItemType Item(const std::string& key) const {
    const std::uint32_t position = FindPosition(key);
    if (position == 0) throw std::out_of_range("KeyedList key not found: " + key);
    return values_[position - 1];
  }

  bool Exists(const std::string& key) const { return FindPosition(key) != 0; }

  // The key of the entry at position (1 to Count()). Throws
  // std::out_of_range otherwise.
  std::string Key(std::int32_t position) const {
    if (position < 1 || position > Count())
      throw std::out_of_range("KeyedList position out of range");
    return KeyAt(static_cast<std::uint32_t>(position));
  }

  // The values in order of addition.
  auto begin() const { return values_.begin(); }
  auto end() const { return values_.end(); }

 private:
  static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);
  static constexpr std::size_t kInitialSlots = 16;  // a power of two
  // The table is kept at most 80% full.
  static constexpr std::size_t kMaxLoadNumerator = 8;
  static constexpr std::size_t kMaxLoadDenominator = 10;

  static std::size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

  // The walker keys its entries "K1", "K2", ... by position. Such a key is
  // not stored at all (hundreds of thousands of them would cost megabytes):
  // an entry's key is "K" and its position, unless it is among the
  // explicit keys, which are stored back to back.
  static bool IsImplicitKey(std::string_view key, std::uint32_t position) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, position);
    return error == std::errc() && key.size() == 1 + static_cast<std::size_t>(end - digits) &&
           key[0] == 'K' && key.substr(1) == std::string_view(digits, end - digits);
  }

  struct ExplicitKey {
    std::uint32_t position;
    std::uint32_t end;  // its end in keyBytes_
  };

  // The explicit key of position, or null when its key is implicit.
  const ExplicitKey* FindExplicit(std::uint32_t position) const {
    if (explicitKeys_.empty()) return nullptr;
    const auto found = std::lower_bound(
        explicitKeys_.begin(), explicitKeys_.end(), position,
        [](const ExplicitKey& entry, std::uint32_t p) { return entry.position < p; });
    return found != explicitKeys_.end() && found->position == position ? &*found : nullptr;
  }

  std::string KeyAt(std::uint32_t position) const {
    const ExplicitKey* entry = FindExplicit(position);
    if (entry == nullptr) return "K" + std::to_string(position);
    const std::uint32_t begin = entry == explicitKeys_.data() ? 0 : (entry - 1)->end;
    return keyBytes_.substr(begin, entry->end - begin);
  }

  bool KeyIs(std::uint32_t position, std::string_view key) const {
    const ExplicitKey* entry = FindExplicit(position);
    if (entry == nullptr) return IsImplicitKey(key, position);
    const std::uint32_t begin = entry == explicitKeys_.data() ? 0 : (entry - 1)->end;
    return std::string_view(keyBytes_).substr(begin, entry->end - begin) == key;
  }

  // The slot that holds key, or kNotFound. A slot holds a position (from 1;
  // 0 when the slot is empty): four bytes a slot keeps the table small, and
  // the keys compared on a probe run are short.
  std::size_t FindSlot(std::string_view key, std::size_t hash) const {
    if (slots_.empty()) return kNotFound;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const std::uint32_t position = slots_[slot];
      if (position == 0) return kNotFound;
      if (KeyIs(position, key)) return slot;
    }
  }

  std::uint32_t FindPosition(std::string_view key) const {
    const std::size_t slot = FindSlot(key, Hash(key));
    return slot == kNotFound ? 0 : slots_[slot];
  }

  // Puts position into the first empty slot on hash's probe run; the table
  // always has one.
  void Place(std::uint32_t position, std::size_t hash) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = hash & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = position;
  }

  void Rehash(std::size_t slotCount) {
    std::vector<std::uint32_t> old(slotCount, 0);
    old.swap(slots_);
    for (std::uint32_t position = 1; position <= values_.size(); ++position)
      Place(position, Hash(KeyAt(position)));
  }

  std::conditional_t<std::is_same_v<T, std::string>, StringStore, std::deque<T>> values_;
  // The explicit keys back to back, and where each ends, by position.
  std::string keyBytes_;
  std::vector<ExplicitKey> explicitKeys_;
  // Open addressing with linear probing over a power-of-two table.
  std::vector<std::uint32_t> slots_;
};

template <typename T>
using KeyedListRef = std::shared_ptr<KeyedList<T>>;

// The walker's full file names after a scan, in queue order.
using QueueList = KeyedList<std::string>;
using QueueListRef = std::shared_ptr<QueueList>;

}  // namespace quillfen
