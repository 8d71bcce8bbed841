// PathList: the paths a walk found, in the order found, kept back to back in
// large blocks. A walk of a large collection lists hundreds of thousands of
// files; a string of its own for each would cost an allocation and a free
// per file and scatter the paths over the heap, and one buffer grown by
// doubling would copy them all again at each growth.
//
// Thread safety: none; a list belongs to one walk.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class PathList {
 public:
  std::size_t size() const { return paths_.size(); }
  bool empty() const { return paths_.empty(); }
  // Valid until clear: a path never moves once added.
  std::string_view operator[](std::size_t i) const { return paths_[i]; }
  void push_back(std::string_view path);
  void reserve(std::size_t paths) { paths_.reserve(paths); }
  void clear();

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_free_ = 0;  // bytes left at the end of the last block
  char* block_end_ = nullptr;   // where the next path goes in it
  std::vector<std::string_view> paths_;
};
