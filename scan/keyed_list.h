#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "scan/string_store.h"

namespace quillfen {

// An ordered, append-only list of values, each with a text key that is unique
// within the list. Positions count from 1 in the order of addition. Lists are
// shared by reference (see KeyedListRef): whoever holds one keeps it alive.
//
// A scan queues hundreds of thousands of files, so the list is built to stay
// light and fast at a million entries. Strings sit packed in a StringStore
// (a queue of full file names shares most of its bytes), other values in a
// deque; both grow in blocks instead of doubling and copying. Keys are
// stored once, packed
// into one character buffer, and an open-addressing hash table of positions
// finds them without a second copy of each key and without a linear search.
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
    if (keyBytes_.size() + key.size() > std::numeric_limits<std::uint32_t>::max())
      throw std::length_error("KeyedList keys are too long");

    // Grow the table before anything is appended, so that a failed
    // allocation leaves the list as it was.
    if ((values_.size() + 1) * kMaxLoadDenominator > slots_.size() * kMaxLoadNumerator)
      Rehash(slots_.empty() ? kInitialSlots : slots_.size() * 2);

    // Capacity doubles explicitly: reserve alone may grow to the exact size
    // asked for, which would copy the whole buffer on every Add.
    if (keyEnds_.size() == keyEnds_.capacity())
      keyEnds_.reserve(std::max<std::size_t>(kInitialSlots, keyEnds_.capacity() * 2));
    if (keyBytes_.size() + key.size() > keyBytes_.capacity())
      keyBytes_.reserve(std::max(keyBytes_.size() + key.size(), keyBytes_.capacity() * 2));
    values_.push_back(std::move(value));
    keyBytes_.append(key);
    keyEnds_.push_back(static_cast<std::uint32_t>(keyBytes_.size()));
    Place(static_cast<std::uint32_t>(values_.size()), hash);
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
  std::string_view Key(std::int32_t position) const {
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
  // The table is kept at most 80% full; tags keep long probe runs cheap.
  static constexpr std::size_t kMaxLoadNumerator = 8;
  static constexpr std::size_t kMaxLoadDenominator = 10;

  static std::size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

  std::string_view KeyAt(std::uint32_t position) const {
    const std::uint32_t begin = position == 1 ? 0 : keyEnds_[position - 2];
    const std::uint32_t end = keyEnds_[position - 1];
    return std::string_view(keyBytes_).substr(begin, end - begin);
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
      if (KeyAt(position) == key) return slot;
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
  // All keys back to back; entry k's key ends at keyEnds_[k - 1].
  std::string keyBytes_;
  std::vector<std::uint32_t> keyEnds_;
  // Open addressing with linear probing over a power-of-two table.
  std::vector<std::uint32_t> slots_;
};

template <typename T>
using KeyedListRef = std::shared_ptr<KeyedList<T>>;

// The walker's full file names after a scan, in queue order.
using QueueList = KeyedList<std::string>;
using QueueListRef = std::shared_ptr<QueueList>;

}  // namespace quillfen
