// A client that starts but never acknowledges properly: it answers the installer with the right token and a
// wrong version, then waits. On SIGTERM it leaves "never-ready.terminated" beside ready.json.
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string marker;

void terminated(int) {
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        ::close(fd);
    }
    ::_exit(0);
}

} // namespace

int main(int argc, char** argv) {
    std::string ready, token;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--update-ready") == 0) {
            ready = argv[i + 1];
        } else if (std::strcmp(argv[i], "--update-token") == 0) {
            token = argv[i + 1];
        }
    }
    if (ready.empty()) {
        return 1;
    }
    marker = ready.substr(0, ready.rfind('/') + 1) + "never-ready.terminated";
    std::signal(SIGTERM, terminated);
    const std::string json = "{\"token\":\"" + token + "\",\"version\":\"0.0.0\"}";
    const int fd = ::open(ready.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        (void)!::write(fd, json.data(), json.size());
        ::close(fd);
    }
    for (int i = 0; i < 300; ++i) {
        ::sleep(1);
    }
    return 1;
}
