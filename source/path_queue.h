#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <iterator>
#include <memory>
#include <mutex>
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
// memory budget. Blocks are allocated one after the other and never moved,
// so memory never holds two copies while the queue grows; the first path of
// a block is kept whole.
//
// A growing queue is read while one thread still fills it: a conversion
// starts on the first folders while the walk goes on. Its readers wait at
// the last path queued so far until more come or the walk closes the
// queue. A queue that is not growing is whole at any moment: its readers
// end at the last path queued.
class PathQueue {
 public:
  enum class Growth { Whole, Growing };

  explicit PathQueue(Growth growth = Growth::Whole);
  PathQueue(const PathQueue&) = delete;
  PathQueue& operator=(const PathQueue&) = delete;

  // The paths queued so far.
  std::size_t size() const { return count_.load(std::memory_order_acquire); }
  bool empty() const { return size() == 0; }
  // Whether no more paths will come: always for a queue that is not
  // growing, and for a growing one once it was closed.
  bool closed() const { return !open_.load(std::memory_order_acquire); }

  // Queues path. Only one thread may queue.
  void push_back(std::string_view path);
  // Ends a growing queue: its readers end at the last path queued.
  void Close();
  // Waits until the path at index (from 0) is queued or the queue is
  // closed; whether that path is there.
  bool WaitFor(std::size_t index) const;

  // Reads the paths in order, each decoded from the one before. Each iterator holds its own copy of
  // the current path, so threads may read the queue at once. Stepping never waits; comparing with
  // end() waits, on a growing queue, until the next path is queued or the queue is closed.
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string*;
    using reference = const std::string&;

    const_iterator() = default;
    const std::string& operator*() const {
      Decode();
      return value_;
    }
    const std::string* operator->() const { return &**this; }
    const_iterator& operator++() {
      ++index_;
      DecodeIfQueued();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      if (b.index_ == kEnd) return a.AtEnd();
      if (a.index_ == kEnd) return b.AtEnd();
      return a.index_ == b.index_;
    }

   private:
    friend class PathQueue;
    static constexpr std::size_t kEnd = static_cast<std::size_t>(-1);

    const_iterator(const PathQueue* queue, std::size_t index) : queue_(queue), index_(index) {
      DecodeIfQueued();
    }
    // Decoded at once when the path is queued already, so that copies of the
    // iterator (algorithms take them by value) carry the path along instead
    // of each decoding it again from the start.
    void DecodeIfQueued() const {
      if (index_ < queue_->size()) Decode();
    }
    bool AtEnd() const { return queue_ == nullptr || !queue_->WaitFor(index_); }
    // Decodes up to the path at index_, which must be queued.
    void Decode() const;

    const PathQueue* queue_ = nullptr;
    std::size_t index_ = 0;
    // How many paths were decoded, the last of them into value_, and where
    // the next one's bytes are.
    mutable std::size_t decoded_ = 0;
    mutable const void* block_ = nullptr;
    mutable const char* in_ = nullptr;
    mutable std::string value_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, const_iterator::kEnd}; }

 private:
  // A block's bytes, and the next block once this one is full. Readers
  // learn of both through the count of paths, which is published last.
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
    std::atomic<std::size_t> used{0};
    std::atomic<Block*> next{nullptr};
  };

  static constexpr std::size_t kBlockSize = std::size_t{256} * 1024;
  static constexpr std::size_t kMaxVarint = 10;

  static char* PutVarint(char* out, std::size_t value);
  static const char* GetVarint(const char* in, std::size_t& value);

  // Owned here, read by iterators through first_ and each block's next.
  std::vector<std::unique_ptr<Block>> blocks_;
  std::atomic<Block*> first_{nullptr};
  std::string last_;
  std::atomic<std::size_t> count_{0};
  std::atomic<bool> open_;
  // Readers of a growing queue that wait for more paths.
  mutable std::mutex mutex_;
  mutable std::condition_variable more_;
  mutable std::atomic<int> waiting_{0};
};

// Whoever holds the queue keeps it alive: the front end that scanned, the
// conversion and its reading thread.
using PathQueueRef = std::shared_ptr<const PathQueue>;

}  // namespace quillfen
