#include "controller/Transients.h"

#include <system_error>

namespace quelmar {

namespace fs = std::filesystem;

void Transients::add(const fs::path& path) {
    std::lock_guard lock(mutex_);
    paths_.insert(path);
}

void Transients::remove(const fs::path& path) {
    release(path);
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void Transients::release(const fs::path& path) {
    std::lock_guard lock(mutex_);
    paths_.erase(path);
}

void Transients::removeAll() {
    std::set<fs::path> paths;
    {
        std::lock_guard lock(mutex_);
        paths.swap(paths_);
    }
    for (const auto& path : paths) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
}

} // namespace quelmar
