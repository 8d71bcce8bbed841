// PathList: the paths a walk found, in the order found, kept back to back in
// one buffer. A walk of a large collection lists hundreds of thousands of
// files; a string of its own for each would cost an allocation and a free
// per file, and scatter the paths over the heap.
//
// Thread safety: none; a list belongs to one walk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class PathList {
 public:
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // Valid until the next push_back or clear.
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }
  void push_back(std::string_view path) {
    text_.append(path);
    ends_.push_back(text_.size());
  }
  void clear() {
    text_.clear();
    ends_.clear();
  }

 private:
  std::string text_;
  std::vector<std::size_t> ends_;  // of each path in text_
};
