#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path, std::string* error,
                                                     bool keep_loaded) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keep_loaded ? RTLD_NODELETE : 0));
  if (handle == nullptr) {
    if (error) {
      const char* text = ::dlerror();
      *error = text ? text : path + ": cannot be loaded";
    }
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

DynamicLibrary::~DynamicLibrary() { ::dlclose(handle_); }

void* DynamicLibrary::Symbol(const char* name, std::string* error) const {
  ::dlerror();  // clear a stale error, so the text below is this lookup's
  void* address = ::dlsym(handle_, name);
  if (address == nullptr && error) {
    const char* text = ::dlerror();
    *error = text ? text : path_ + ": no symbol " + name;
  }
  return address;
}

}  // namespace platform
