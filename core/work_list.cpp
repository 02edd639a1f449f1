#include "core/work_list.h"

#include <algorithm>

namespace core {

namespace {
inline unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
}  // namespace

bool WorkList::Less(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return Fold(static_cast<unsigned char>(x)) < Fold(static_cast<unsigned char>(y));
      });
}

void WorkList::AddItem(const std::string& line) {
  if (!sorted_) {
    lines_.push_back(line);
    return;
  }
  auto at = std::upper_bound(lines_.begin(), lines_.end(), line, &WorkList::Less);
  lines_.insert(at, line);
}

void WorkList::AddItems(std::vector<std::string> lines) {
  if (sorted_) {
    // Equal lines keep the order they came in, after the equal lines held
    // already: a stable sort of the new ones, then a stable merge.
    std::stable_sort(lines.begin(), lines.end(), &WorkList::Less);
  }
  const auto held = std::ptrdiff_t(lines_.size());
  lines_.insert(lines_.end(), std::make_move_iterator(lines.begin()),
                std::make_move_iterator(lines.end()));
  if (sorted_) std::inplace_merge(lines_.begin(), lines_.begin() + held, lines_.end(), &WorkList::Less);
}

void WorkList::RemoveItem(size_t index) {
  if (index < lines_.size()) lines_.erase(lines_.begin() + std::ptrdiff_t(index));
}

std::string WorkList::TakeFirst() {
  if (lines_.empty()) return std::string();
  std::string first = std::move(lines_.front());
  lines_.pop_front();
  return first;
}

}  // namespace core
