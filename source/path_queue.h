#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The queue a folder walk fills: the full path of every file found, in
// walking order, read back front to back.
//
// A walk queues hundreds of thousands of paths, and neighbours share most of
// their bytes (the folder, often the start of the name), so each path is
// kept as the length it shares with the one before and the rest: about 30
// bytes a path where a vector of strings takes 150, which at 300,000
// messages (and as many companion files) keeps the conversion within its
// memory budget. Blocks are allocated one
// after the other and never moved, so memory never holds two copies while
// the queue grows; the first path of a block is kept whole.
class PathQueue {
 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  void push_back(std::string_view path) {
    std::size_t shared = 0;
    const std::size_t most = std::min(path.size(), last_.size());
    while (shared < most && path[shared] == last_[shared]) ++shared;
    if (blocks_.empty() ||
        blocks_.back().used + kMaxVarint * 2 + path.size() - shared > blocks_.back().capacity) {
      const std::size_t needed = kMaxVarint * 2 + path.size();
      blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(std::max(kBlockSize, needed)),
                              std::max(kBlockSize, needed), 0, 0});
      shared = 0;
    }
    Block& block = blocks_.back();
    char* out = block.bytes.get() + block.used;
    out = PutVarint(out, shared);
    out = PutVarint(out, path.size() - shared);
    std::memcpy(out, path.data() + shared, path.size() - shared);
    out += path.size() - shared;
    block.used = static_cast<std::size_t>(out - block.bytes.get());
    ++block.count;
    last_.assign(path);
    ++count_;
  }

  // Reads the paths in order, each decoded from the one before. Each
  // iterator holds its own copy of the current path, so threads may read the
  // queue at once.
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string*;
    using reference = const std::string&;

    const_iterator() = default;
    const_iterator(const PathQueue* queue, std::size_t index) : queue_(queue), index_(index) {
      if (index_ < queue_->count_) Decode();
    }
    const std::string& operator*() const { return value_; }
    const std::string* operator->() const { return &value_; }
    const_iterator& operator++() {
      if (++index_ < queue_->count_) Decode();
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
    // Decodes the next path, moving on to the next block when this one is
    // read to its end.
    void Decode() {
      if (in_ == nullptr || leftInBlock_ == 0) {
        const Block& block = queue_->blocks_[in_ == nullptr ? 0 : ++block_];
        in_ = block.bytes.get();
        leftInBlock_ = block.count;
      }
      std::size_t shared = 0;
      std::size_t rest = 0;
      in_ = GetVarint(GetVarint(in_, shared), rest);
      value_.resize(shared);
      value_.append(in_, rest);
      in_ += rest;
      --leftInBlock_;
    }

    const PathQueue* queue_ = nullptr;
    std::size_t index_ = 0;
    std::size_t block_ = 0;
    std::size_t leftInBlock_ = 0;
    const char* in_ = nullptr;  // the next path's bytes
    std::string value_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity;
    std::size_t used;
    std::size_t count;  // paths begun in this block
  };

  static constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
  static constexpr std::size_t kMaxVarint = 10;

  static char* PutVarint(char* out, std::size_t value) {
    while (value >= 0x80) {
      *out++ = static_cast<char>((value & 0x7f) | 0x80);
      value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
  }
  static const char* GetVarint(const char* in, std::size_t& value) {
    value = 0;
    for (int shift = 0;; shift += 7) {
      const auto byte = static_cast<unsigned char>(*in++);
      value |= static_cast<std::size_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) return in;
    }
  }

  std::vector<Block> blocks_;
  std::string last_;
  std::size_t count_ = 0;
};

// Whoever holds the queue keeps it alive: the front end that scanned, the
// conversion and its reading thread.
using PathQueueRef = std::shared_ptr<const PathQueue>;

}  // namespace quillfen
