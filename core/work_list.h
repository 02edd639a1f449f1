// The hidden list boxes the main program uses as work queues: a list of text
// lines, taken from the front and added at the back (List1, the directory
// walk), or kept in text order (List4, the directory-size work list).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace core {

class WorkList {
 public:
  // A sorted list keeps its lines in text order (case ignored, as a sorted
  // list box does); an unsorted one keeps them in the order added.
  explicit WorkList(bool sorted = false) : sorted_(sorted) {}

  bool Sorted() const { return sorted_; }
  // Adds a line: at the end, or at its place in text order (after equal lines).
  void AddItem(const std::string& line);
  // Adds many lines at once, in the order AddItem would leave them when
  // called for each in turn, at a cost that grows as n log n rather than n².
  void AddItems(std::vector<std::string> lines);
  void RemoveItem(size_t index);
  const std::string& List(size_t index) const { return lines_.at(index); }
  size_t ListCount() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  void Clear() { lines_.clear(); }
  // Takes and removes the first line.
  std::string TakeFirst();

  // Text order of a sorted list: byte-wise with ASCII letters compared without case.
  static bool Less(const std::string& a, const std::string& b);

 private:
  bool sorted_;
  std::deque<std::string> lines_;
};

}  // namespace core
