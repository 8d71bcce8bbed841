#include "scan/path_list.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBlockBytes = 1 << 20;

}  // namespace

void PathList::push_back(std::string_view path) {
  if (path.size() > block_free_) {
    const std::size_t bytes = std::max(kBlockBytes, path.size());
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(bytes));
    block_end_ = blocks_.back().get();
    block_free_ = bytes;
  }
  if (!path.empty()) std::memcpy(block_end_, path.data(), path.size());
  paths_.emplace_back(block_end_, path.size());
  block_end_ += path.size();
  block_free_ -= path.size();
}

void PathList::clear() {
  blocks_.clear();
  block_free_ = 0;
  block_end_ = nullptr;
  paths_.clear();
}
