// What the reader found wrong with a file, kept bounded: the first few problems of each kind in
// full, then only a count of the rest, so a hostile file with a fault in every one of its
// millions of packets costs a few records, not one per packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace asf {

struct Problem {
  enum class Severity { Error, Warning };
  Severity severity;
  uint64_t offset;  // byte offset in the file the problem was found at
  std::string message;
  uint64_t more = 0;  // further problems like this one, not listed
};

class ProblemList {
 public:
  static constexpr size_t kShownPerKind = 3;
  static constexpr size_t kMaxKinds = 64;

  // Throws std::bad_alloc like any container; the reader turns it into E_OUTOFMEMORY. Returns
  // the listed item that counts further problems of this kind once the kind is full, else
  // SIZE_MAX: a caller with a problem that may come millions of times can then count the next
  // ones with AddMore, without making their messages.
  size_t Add(Problem::Severity severity, uint64_t offset, std::string message);
  void AddMore(size_t item) { ++items_[item].more; }
  void Clear();
  // Added to every offset given to Add: the header of a framed stream does not start at 0.
  void SetOffsetBase(uint64_t base) { offsetBase_ = base; }

  const std::vector<Problem>& Items() const { return items_; }
  bool HasErrors() const { return hasErrors_; }

 private:
  struct Kind {
    size_t shown = 0;
    size_t lastItem = 0;
  };
  std::vector<Problem> items_;
  // Problems of one kind differ only in their numbers: the key is the message with every run of
  // digits replaced, and the severity.
  std::unordered_map<std::string, Kind> kinds_;
  std::string key_;  // reused, so a repeated problem costs no allocation for its key
  size_t overflowItem_ = SIZE_MAX;  // the one item that counts problems of kinds beyond kMaxKinds
  uint64_t offsetBase_ = 0;
  bool hasErrors_ = false;
};

}  // namespace asf
