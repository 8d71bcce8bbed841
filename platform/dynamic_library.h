// DynamicLibrary: one shared library loaded at run time (dlopen), with its
// entry points looked up by name (dlsym). The identification component's
// modules and the audio decoding libraries are loaded this way.
//
// Thread safety: Open, Symbol and the destructor may run on any thread; one
// object belongs to one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <utility>

namespace platform {

class DynamicLibrary {
 public:
  // Loads the library at `path` (a bare file name is searched on the
  // loader's path); null when it cannot be loaded (`error`, when given,
  // receives the loader's reason, which names the library). With
  // `keep_loaded` the library stays loaded for the process's life.
  static std::unique_ptr<DynamicLibrary> Open(const std::string& path, std::string* error = nullptr,
                                              bool keep_loaded = false);
  // Unloads the library (unless opened with `keep_loaded`).
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of the exported `name`, or null (`error`, when given,
  // receives a text naming the library and the symbol).
  void* Symbol(const char* name, std::string* error = nullptr) const;
  // The loader's handle, handed to other modules that want to find this one.
  void* handle() const { return handle_; }
  const std::string& path() const { return path_; }

 private:
  DynamicLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

}  // namespace platform
