#pragma once

#include <string>

namespace quelmar {

// A system library opened when it is first needed rather than when the process starts, so that the command-line
// modes that never use it do not pay for loading it and what it pulls in. Never closed.
class SharedLibrary {
public:
    // By its soname ("libcurl.so.4"). Throws std::runtime_error with the loader's reason when it cannot be opened.
    explicit SharedLibrary(const char* soname);

    // The library's function of this name, as F (the type of the function its header declares). Throws
    // std::runtime_error naming it when the library lacks it.
    template <typename F>
    F function(const char* name) const {
        return reinterpret_cast<F>(address(name));
    }

private:
    void* address(const char* name) const;

    std::string soname_;
    void* handle_;
};

} // namespace quelmar
