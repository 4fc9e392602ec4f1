#pragma once

#include <utility>

#include <unistd.h>

namespace quelmar {

// Owns an open file descriptor (or none, -1) and closes it when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1)
        : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (const int old = std::exchange(fd_, fd); old >= 0) {
            ::close(old);
        }
    }

private:
    int fd_;
};

} // namespace quelmar
