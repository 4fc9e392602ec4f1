#include "core/UPSError.h"
#include "install/Bundle.h"
#include "install/NativeInstaller.h"
#include "system/Descriptor.h"
#include "system/Files.h"
#include "system/Processes.h"
#include "system/Uuid.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace quelmar::NativeInstaller {

namespace fs = std::filesystem;

namespace {

// Each attempt starts a fresh log. Both streams append, so that a stray line on standard error never lands under a
// later line of standard output. Returns the log's path when it could be opened.
std::optional<fs::path> redirectToLog() {
    std::error_code ignored;
    fs::path directory;
    try {
        directory = Files::updatesDirectory();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    fs::create_directories(directory, ignored);
    const auto log = directory / "install.log";
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        return std::nullopt;
    }
    ::dup2(out, STDOUT_FILENO);
    ::close(out);
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (err >= 0) {
        ::dup2(err, STDERR_FILENO);
        ::close(err);
    }
    return log;
}

void logLine(const std::string& text) {
    const std::string line = text + "\n";
    try {
        Files::writeAll(STDOUT_FILENO, ByteView(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()),
                        "install.log");
    } catch (const std::system_error&) {
        // Without a log the helper still does its work.
    }
}

// The install log. Before each move it says, on disk, where the bundle goes: a helper stopped at any point (killed,
// or the machine losing power) leaves both places in the log, and the bundle, moved by one rename, lies whole in one
// of them. A run that ends replaces those lines with its outcome alone.
class InstallLog {
public:
    explicit InstallLog(std::optional<fs::path> file)
        : file_(std::move(file)) {}

    void progress(const std::string& text) {
        logLine(text);
        ::fsync(STDOUT_FILENO);
    }
    void outcome(const std::string& text) {
        logLine(text);
        outcome_ += text + "\n";
    }
    void finish() {
        if (file_) {
            try {
                Files::writeAtomically(*file_, outcome_);
            } catch (const std::exception&) {
                // The progress lines stay, followed by the outcome.
            }
        }
    }

private:
    std::optional<fs::path> file_;
    std::string outcome_;
};

// So that a rename survives a loss of power.
void syncDirectory(const fs::path& directory) {
    const Descriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        ::fsync(fd.get());
    }
}

// A 32-bit signed decimal number with an optional sign, nothing else.
std::optional<std::int32_t> parseInt32(const std::string& text) {
    std::string_view digits(text);
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-')) {
            return std::nullopt;
        }
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// The stand-in for "open -n": the bundle's executable, detached, with these start arguments.
void openBundle(const fs::path& bundle, const std::vector<std::string>& arguments) {
    Processes::startDetached(Bundle::executable(bundle), arguments);
}

bool acknowledged(const fs::path& ready, const std::string& token, const std::string& version) {
    try {
        const auto bytes = Files::readUpTo(ready, 64 * 1024);
        if (!bytes) {
            return false;
        }
        const auto members = nlohmann::json::parse(*bytes).get<std::map<std::string, std::string>>();
        const auto t = members.find("token");
        const auto v = members.find("version");
        return t != members.end() && v != members.end() && t->second == token && v->second == version;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

int installFromHelper(const std::vector<std::string>& arguments, const HelperTimes& times,
                      const HelperObserver& observer) {
    ::setsid();
    InstallLog log(redirectToLog());

    if (arguments.size() != 6) {
        return 2;
    }
    const auto pid = parseInt32(arguments[2]);
    if (!pid || *pid < 2) {
        return 2;
    }
    const auto target = Files::standardized(arguments[3]);
    const auto stage = Files::standardized(arguments[4]);
    const auto& version = arguments[5];
    if (!stage.filename().string().starts_with(stagePrefix) || stage.parent_path() != target.parent_path()) {
        return 2;
    }

    const auto newApp = stage / Bundle::name;
    const auto previous = stage / "previous.app";
    const auto observe = [&](HelperStep step, bool done) {
        if (observer) {
            observer(step, done);
        }
    };
    const auto move = [&](const fs::path& from, const fs::path& to, HelperStep step) {
        log.progress("正在移动：" + from.string() + " → " + to.string());
        observe(step, false);
        fs::rename(from, to);
        syncDirectory(from.parent_path());
        syncDirectory(to.parent_path());
        observe(step, true);
    };
    const auto start = [&](const std::vector<std::string>& startArguments, HelperStep step) {
        observe(step, false);
        openBundle(target, startArguments);
        observe(step, true);
    };

    bool movedAside = false;
    bool mayHaveStarted = false;
    try {
        // An earlier run stopped between the two moves of a swap or of a rollback left no bundle at target: the old
        // one goes back first.
        if (!fs::exists(fs::symlink_status(target)) && fs::exists(previous)) {
            move(previous, target, HelperStep::moveBack);
        }
        // One stopped after the swap left the new bundle in place, not yet acknowledged: it is started again.
        const bool swapped = !fs::exists(newApp) && fs::exists(previous);
        validate(swapped ? target : newApp, version);

        for (int probe = 0; probe < times.exitProbes && Processes::isRunning(*pid); ++probe) {
            std::this_thread::sleep_for(times.pause);
        }
        if (Processes::isRunning(*pid)) {
            throw UPSError("原客户端未退出，取消更新");
        }

        if (swapped) {
            movedAside = true;
            if (Processes::terminateInside(target) > 0) {
                std::this_thread::sleep_for(times.pause);
            }
        } else {
            move(target, previous, HelperStep::moveAside);
            movedAside = true;
            move(newApp, target, HelperStep::moveIn);
        }

        mayHaveStarted = true;
        const auto token = randomUUID();
        const auto ready = stage / readyFile;
        start({"--update-ready", ready.string(), "--update-token", token}, HelperStep::start);

        bool done = false;
        for (int poll = 0; poll < times.acknowledgementPolls && !done; ++poll) {
            done = acknowledged(ready, token, version);
            if (!done) {
                std::this_thread::sleep_for(times.pause);
            }
        }
        if (!done) {
            throw UPSError("新版未完成窗口启动，恢复旧版");
        }
        log.outcome("更新成功；旧版保留在 " + previous.string());
        log.finish();
        return 0;
    } catch (const std::exception& error) {
        log.outcome("更新失败：" + messageOf(error));
    }

    if (movedAside) {
        try {
            if (mayHaveStarted) {
                Processes::terminateInside(target);
                std::this_thread::sleep_for(times.pause);
                move(target, stage / "failed.app", HelperStep::moveFailed);
            }
            move(previous, target, HelperStep::moveBack);
            start({}, HelperStep::restart);
            log.outcome("旧版已恢复");
        } catch (const std::exception& error) {
            // Where the old bundle lies: once moved back, a failed start leaves it at target.
            std::error_code ignored;
            const auto old = fs::exists(previous, ignored) ? previous : target;
            log.outcome("恢复失败，请手动打开：" + old.string() + "；" + messageOf(error));
        }
    }
    log.finish();
    return 1;
}

} // namespace quelmar::NativeInstaller
