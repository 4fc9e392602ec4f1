#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

namespace quelmar {

// The files of running workflows that nobody needs once they end (a downloaded package, a staging directory),
// so that they go on every path, the application quitting mid-way included. Shared with the jobs that make them;
// thread-safe.
class Transients {
public:
    Transients() = default;
    Transients(const Transients&) = delete;
    Transients& operator=(const Transients&) = delete;
    ~Transients() { removeAll(); }

    void add(const std::filesystem::path& path);
    // Removes it now (errors ignored).
    void remove(const std::filesystem::path& path);
    // Leaves it in place: someone else looks after it now.
    void release(const std::filesystem::path& path);
    void removeAll();

private:
    std::mutex mutex_; // guards paths_
    std::set<std::filesystem::path> paths_;
};

// One of them, for the scope of a workflow's step: removed when the scope ends, unless released first.
class Transient {
public:
    Transient(std::shared_ptr<Transients> all, std::filesystem::path path)
        : all_(std::move(all))
        , path_(std::move(path)) {
        all_->add(path_);
    }
    ~Transient() {
        if (all_) {
            all_->remove(path_);
        }
    }
    Transient(const Transient&) = delete;
    Transient& operator=(const Transient&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void release() {
        all_->release(path_);
        all_.reset();
    }

private:
    std::shared_ptr<Transients> all_;
    std::filesystem::path path_;
};

} // namespace quelmar
