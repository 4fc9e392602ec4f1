#include "system/SharedLibrary.h"

#include <stdexcept>

#include <dlfcn.h>

namespace quelmar {

namespace {

std::string loaderError(const std::string& fallback) {
    const char* reason = ::dlerror();
    return reason != nullptr ? reason : fallback;
}

} // namespace

SharedLibrary::SharedLibrary(const char* soname)
    : soname_(soname)
    , handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
        throw std::runtime_error(loaderError(soname_ + ": cannot be loaded"));
    }
}

void* SharedLibrary::address(const char* name) const {
    ::dlerror();
    void* found = ::dlsym(handle_, name);
    if (found == nullptr) {
        throw std::runtime_error(loaderError(soname_ + ": no " + name));
    }
    return found;
}

} // namespace quelmar
