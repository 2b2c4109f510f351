#include "platform/asf/problem_list.h"

namespace asf {
namespace {

void MakeKindKey(Problem::Severity severity, const std::string& message, std::string& key) {
  key.assign(1, severity == Problem::Severity::Error ? 'E' : 'W');
  bool inNumber = false;
  for (char c : message) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit) key.push_back(c);
    else if (!inNumber) key.push_back('#');
    inNumber = digit;
  }
}

}  // namespace

size_t ProblemList::Add(Problem::Severity severity, uint64_t offset, std::string message) {
  if (severity == Problem::Severity::Error) hasErrors_ = true;
  offset += offsetBase_;
  MakeKindKey(severity, message, key_);
  auto it = kinds_.find(key_);
  if (it == kinds_.end()) {
    if (kinds_.size() >= kMaxKinds) {
      if (overflowItem_ == SIZE_MAX) {
        overflowItem_ = items_.size();
        items_.push_back({severity, offset, "and problems of further kinds (the first: " + message + ")", 0});
      } else {
        Problem& overflow = items_[overflowItem_];
        ++overflow.more;
        if (severity == Problem::Severity::Error) overflow.severity = severity;
      }
      return SIZE_MAX;
    }
    it = kinds_.emplace(key_, Kind{}).first;
  }
  Kind& kind = it->second;
  if (kind.shown >= kShownPerKind) {
    ++items_[kind.lastItem].more;
    return kind.lastItem;
  }
  ++kind.shown;
  kind.lastItem = items_.size();
  items_.push_back({severity, offset, std::move(message), 0});
  return kind.shown == kShownPerKind ? kind.lastItem : SIZE_MAX;
}

void ProblemList::Clear() {
  items_.clear();
  kinds_.clear();
  overflowItem_ = SIZE_MAX;
  offsetBase_ = 0;
  hasErrors_ = false;
}

}  // namespace asf
