#include "core/UPSError.h"
#include "install/Bundle.h"
#include "install/NativeInstaller.h"
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

// Each attempt starts a fresh log. Both streams append, so a stray line on standard error never lands under a
// later line of standard output.
void redirectToLog() {
    std::error_code ignored;
    fs::path directory;
    try {
        directory = Files::updatesDirectory();
    } catch (const std::exception&) {
        return;
    }
    fs::create_directories(directory, ignored);
    const auto log = directory / "install.log";
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (out >= 0) {
        ::dup2(out, STDOUT_FILENO);
        ::close(out);
    }
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (err >= 0) {
        ::dup2(err, STDERR_FILENO);
        ::close(err);
    }
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

int installFromHelper(const std::vector<std::string>& arguments, const HelperTimes& times) {
    ::setsid();
    redirectToLog();

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
    bool movedAside = false;
    bool mayHaveStarted = false;
    try {
        validate(newApp, version);

        for (int probe = 0; probe < times.exitProbes && Processes::isRunning(*pid); ++probe) {
            std::this_thread::sleep_for(times.pause);
        }
        if (Processes::isRunning(*pid)) {
            throw UPSError("原客户端未退出，取消更新");
        }

        fs::rename(target, previous);
        movedAside = true;
        fs::rename(newApp, target);

        mayHaveStarted = true;
        const auto token = randomUUID();
        const auto ready = stage / readyFile;
        openBundle(target, {"--update-ready", ready.string(), "--update-token", token});

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
        logLine("更新成功；旧版保留在 " + previous.string());
        return 0;
    } catch (const std::exception& error) {
        logLine("更新失败：" + messageOf(error));
    }

    if (!movedAside) {
        return 1;
    }
    try {
        if (mayHaveStarted) {
            Processes::terminateInside(target);
            std::this_thread::sleep_for(times.pause);
            fs::rename(target, stage / "failed.app");
        }
        fs::rename(previous, target);
        openBundle(target, {});
        logLine("旧版已恢复");
    } catch (const std::exception& error) {
        logLine("恢复失败，请手动打开：" + previous.string() + "；" + messageOf(error));
    }
    return 1;
}

} // namespace quelmar::NativeInstaller
