#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// Many strings, added one after the other and read back by their place,
// in little memory. The walker's queue holds hundreds of thousands of full
// file names, and neighbours share most of their bytes (the folder, often the
// start of the name), so each string is kept as the length it shares with
// the one before and the rest. Every sixteenth string, and the first one of
// each block, is kept whole, so reading one back decodes at most sixteen.
// Blocks are allocated one after the other and never moved, so memory never
// holds two copies while it grows.
class StringStore {
 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  void push_back(std::string_view value) {
    std::size_t shared = 0;
    const bool restart = count_ % kGroup == 0;
    if (!restart) {
      const std::size_t most = std::min(value.size(), last_.size());
      while (shared < most && value[shared] == last_[shared]) ++shared;
    }
    const std::size_t rest = value.size() - shared;
    if (restart || blockUsed_ + kMaxVarint * 2 + rest > blockSize_) {
      // A group starts: it lies within one block, so that its strings can be
      // read one after the other.
      const std::size_t needed = kMaxVarint * 2 + value.size();
      if (blocks_.empty() || blockUsed_ + needed > blockSize_) {
        blockSize_ = std::max(kBlockSize, needed);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize_));
        blockUsed_ = 0;
      }
      groups_.push_back({static_cast<std::uint32_t>(count_),
                         static_cast<std::uint32_t>(blocks_.size() - 1),
                         static_cast<std::uint32_t>(blockUsed_)});
      shared = 0;
    }
    char* out = blocks_.back().get() + blockUsed_;
    out = PutVarint(out, shared);
    out = PutVarint(out, value.size() - shared);
    std::memcpy(out, value.data() + shared, value.size() - shared);
    out += value.size() - shared;
    blockUsed_ = static_cast<std::size_t>(out - blocks_.back().get());
    last_.assign(value);
    ++count_;
  }

  // The string at index (from 0); index must be below size().
  std::string operator[](std::size_t index) const {
    auto group = std::upper_bound(groups_.begin(), groups_.end(), index,
                                  [](std::size_t i, const Group& g) { return i < g.first; });
    --group;
    const char* in = blocks_[group->block].get() + group->offset;
    std::string value;
    for (std::size_t at = group->first; at <= index; ++at) in = Step(in, value);
    return value;
  }

  // Reads the strings in order, each decoded from the one before: a pass
  // over the whole store costs one step per string, where reading by place
  // costs up to sixteen and a search. Each iterator holds its own copy of
  // the current string, so threads may read the store at once.
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string*;
    using reference = const std::string&;

    const_iterator() = default;
    const_iterator(const StringStore* store, std::size_t index) : store_(store), index_(index) {
      if (index_ < store_->count_) Decode();
    }
    const std::string& operator*() const { return value_; }
    const std::string* operator->() const { return &value_; }
    const_iterator& operator++() {
      if (++index_ < store_->count_) Decode();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_;
    }

   private:
    // Decodes the string at index_: from its group's start when it begins a
    // group (or the iterator was just made), else from the one before.
    void Decode() {
      const auto& groups = store_->groups_;
      if (in_ == nullptr || (group_ + 1 < groups.size() && groups[group_ + 1].first == index_)) {
        group_ = static_cast<std::size_t>(
            std::upper_bound(groups.begin(), groups.end(), index_,
                             [](std::size_t i, const Group& g) { return i < g.first; }) -
            groups.begin() - 1);
        in_ = store_->blocks_[groups[group_].block].get() + groups[group_].offset;
        for (std::size_t at = groups[group_].first; at < index_; ++at) in_ = Step(in_, value_);
      }
      in_ = Step(in_, value_);
    }

    const StringStore* store_ = nullptr;
    std::size_t index_ = 0;
    std::size_t group_ = 0;
    const char* in_ = nullptr;  // the next string's bytes
    std::string value_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

 private:
  struct Group {
    std::uint32_t first;  // index of its first string
    std::uint32_t block;
    std::uint32_t offset;
  };

  static constexpr std::size_t kGroup = 16;
  static constexpr std::size_t kBlockSize = 256 * 1024;
  static constexpr std::size_t kMaxVarint = 10;

  static char* PutVarint(char* out, std::size_t value) {
    while (value >= 0x80) {
      *out++ = static_cast<char>((value & 0x7f) | 0x80);
      value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
  }
  // Decodes the string at in over value, the string before it; gives where
  // the next one begins.
  static const char* Step(const char* in, std::string& value) {
    std::size_t shared = 0;
    std::size_t rest = 0;
    in = GetVarint(in, shared);
    in = GetVarint(in, rest);
    value.resize(shared);
    value.append(in, rest);
    return in + rest;
  }
  static const char* GetVarint(const char* in, std::size_t& value) {
    value = 0;
    for (int shift = 0;; shift += 7) {
      const auto byte = static_cast<unsigned char>(*in++);
      value |= static_cast<std::size_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return in;
    }
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockSize_ = 0;
  std::size_t blockUsed_ = 0;
  std::vector<Group> groups_;
  std::string last_;
  std::size_t count_ = 0;
};

}  // namespace quillfen
