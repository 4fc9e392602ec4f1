#pragma once

#include "HttpsServer.h"
#include "SignedFeeds.h"
#include "TemporaryDirectory.h"
#include "controller/AppModel.h"
#include "controller/AppModelSetup.h"
#include "controller/Dialogs.h"
#include "device/emulator/EmulatedPlatform.h"

#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace quelmar::test {

namespace detail {

template <typename T>
QCoro::Task<> settleInto(QCoro::Task<T>& task, std::optional<T>& result, std::exception_ptr& error, QEventLoop& loop) {
    try {
        result.emplace(co_await task);
    } catch (...) {
        error = std::current_exception();
    }
    loop.quit();
}

inline QCoro::Task<> settleInto(QCoro::Task<>& task, std::optional<bool>& result, std::exception_ptr& error,
                                QEventLoop& loop) {
    try {
        co_await task;
        result = true;
    } catch (...) {
        error = std::current_exception();
    }
    loop.quit();
}

} // namespace detail

// Runs the event loop until the task has ended; returns its value or rethrows its exception. A task that has not
// ended by the deadline fails the test instead of hanging it.
template <typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
    QEventLoop loop;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    std::exception_ptr error;
    auto settling = detail::settleInto(task, result, error, loop);
    if (!result && !error) {
        QTimer::singleShot(deadline, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if (!result) {
        throw std::runtime_error("the task did not end within its deadline");
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

// Answers the controller's questions from a script and records what it asked. While a confirmation is "open" the
// event loop turns, as it does under a real modal dialog, and an action given for it runs meanwhile.
struct ScriptedDialogs final : Dialogs {
    std::deque<bool> answers;        // confirmations, in order; yes once they run out
    std::function<void()> whileOpen; // runs once, during the next confirmation
    std::vector<std::tuple<std::string, std::string, std::string>> confirmations;
    std::optional<std::filesystem::path> fileToOpen;
    std::optional<std::filesystem::path> saveLocation;
    std::vector<std::string> asked; // "open hex", "save Quelmar-log.txt", "quit"

    bool confirm(const std::string& title, const std::string& message, const std::string& button) override {
        confirmations.emplace_back(title, message, button);
        QCoreApplication::processEvents();
        if (auto action = std::exchange(whileOpen, nullptr)) {
            action();
        }
        const bool answer = answers.empty() || answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        return answer;
    }
    std::optional<std::filesystem::path> chooseFileToOpen(const std::string& extension) override {
        asked.push_back("open " + extension);
        return fileToOpen;
    }
    std::optional<std::filesystem::path> chooseSaveLocation(const std::string& proposedName) override {
        asked.push_back("save " + proposedName);
        return saveLocation;
    }
    void quitApplication() override { asked.push_back("quit"); }
};

// A board at its own place on the bus that restarts quickly.
inline BoardDescription testBoard(std::int64_t location = 0x01100000, std::string serial = "QM1") {
    BoardDescription board;
    board.location = location;
    board.serial = std::move(serial);
    board.restartMilliseconds = 30;
    return board;
}

inline std::string idOf(std::int64_t location = 0x01100000) {
    return "location:" + std::to_string(location);
}

// A controller over emulated boards, with short waits and a clock the test moves.
class ControllerTest : public testing::Test {
protected:
    ~ControllerTest() override { settle(); }

    void make(std::vector<BoardDescription> boards, AppModel::Setup setup = {}) {
        platform = std::make_unique<EmulatedPlatform>(std::move(boards));
        makeOn(*platform, std::move(setup));
    }

    void makeOn(HIDPlatform& hid, AppModel::Setup setup = {}) {
        setup.platform = &hid;
        setup.dialogs = &dialogs;
        setup.updates.directory = home / "updates";
        if (setup.updates.feedURL == UpdateService::Options().feedURL) {
            setup.updates.feedURL = "https://127.0.0.1:1/raw/main/updates/stable.json"; // refused at once
        }
        setup.updates.pauses = {std::chrono::milliseconds(1), std::chrono::milliseconds(1)};
        if (setup.timing.pollPause == AppModel::Timing{}.pollPause) {
            setup.timing.pollPause = std::chrono::milliseconds(20);
        }
        setup.timing.modeWaitPause = std::chrono::milliseconds(20);
        setup.timing.bootReplyDeadline = std::chrono::milliseconds(200);
        setup.clock = [this] {
            if (clockHook) {
                clockHook();
            }
            return now;
        };
        if (setup.version.empty()) {
            setup.version = "2.0.1";
        }
        model = std::make_unique<AppModel>(std::move(setup));
    }

    // Checks the feed the server holds as feed.json (or at path), signed with the development key.
    void makeWithFeed(std::vector<BoardDescription> boards, const HttpsServer& server,
                      const std::string& path = "/files/feed.json") {
        AppModel::Setup setup;
        setup.updates.caFile = server.caFile();
        setup.updates.feedURL = server.url(path);
        setup.updates.publicKey = developmentPublicKey();
        make(std::move(boards), std::move(setup));
    }

    template <typename T>
    static T run(QCoro::Task<T> task) {
        return await(std::move(task));
    }

    static bool waitUntil(const std::function<bool()>& condition, int milliseconds = 5000) {
        return QTest::qWaitFor(condition, milliseconds);
    }

    // Lets running workflows and checks end, so that none outlives the controller.
    void settle() {
        if (model) {
            model->stopPolling();
            waitUntil([this] { return !model->polling() && !model->operation() && !model->checking(); });
            QTest::qWait(5);
        }
    }

    // The emulated boards, as a test looks at and handles them.
    Bytes storedImage(std::size_t board) {
        return platform->withBoard(board, [](EmulatedBoard& b) { return b.storedImage(); });
    }
    std::vector<Bytes> packets(std::size_t board) {
        return platform->withBoard(board, [](EmulatedBoard& b) { return b.packetsReceived(); });
    }
    BoardMode mode(std::size_t board) {
        return platform->withBoard(board, [](EmulatedBoard& b) { return b.mode(); });
    }
    void unplug(std::size_t board) {
        platform->withBoard(board, [](EmulatedBoard& b) { b.leaveBus(); });
    }
    // Off the bus and back after the board's restart time, in that mode.
    void restart(std::size_t board, BoardMode into) {
        platform->withBoard(board, [into](EmulatedBoard& b) { b.restartInto(into); });
    }

    std::vector<std::string> logTexts() const {
        std::vector<std::string> texts;
        for (const auto& line : model->logs().lines()) {
            texts.push_back(line.text.toStdString());
        }
        return texts;
    }

    TemporaryDirectory home;
    ScriptedDialogs dialogs;
    std::chrono::system_clock::time_point now{std::chrono::sys_days(std::chrono::year(2026) / 12 / 8)};
    std::function<void()> clockHook; // runs whenever the controller reads the clock
    std::unique_ptr<EmulatedPlatform> platform;
    std::unique_ptr<AppModel> model;
};

} // namespace quelmar::test
