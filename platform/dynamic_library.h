// DynamicLibrary: one shared library loaded at run time (dlopen), with its
// entry points looked up by name (dlsym). The identification component's
// modules are loaded this way from the program folder.
//
// Thread safety: Open, Symbol and the destructor may run on any thread; one
// object belongs to one thread at a time.
#pragma once

#include <memory>
#include <string>

namespace platform {

class DynamicLibrary {
 public:
  // Loads the library at `path`; null when it cannot be loaded (`error`,
  // when given, receives the loader's reason).
  static std::unique_ptr<DynamicLibrary> Open(const std::string& path,
                                              std::string* error = nullptr);
  // Unloads the library.
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of the exported `name`, or null.
  void* Symbol(const char* name) const;
  // The loader's handle, handed to other modules that want to find this one.
  void* handle() const { return handle_; }

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace platform
