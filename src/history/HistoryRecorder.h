#pragma once

#include "history/HistoryFile.h"
#include "history/HistoryRecord.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quelmar {

class HistoryStore;
class SQLiteError;

// What went wrong with the history file. The caller decides how to say it; description() is the command line's.
struct HistoryFailure {
    enum class Kind {
        unavailable, // the file cannot be opened or written: nothing is recorded until it can
        setAside,    // the file was damaged: renamed to setAsideAs, and a new one begun
    };
    Kind kind;
    std::filesystem::path file;
    std::filesystem::path setAsideAs;
    std::string reason; // the library's or the system's own words

    std::string description() const;
};

// Records samples and events into the history file from its own thread, so that the caller never waits for the
// disk: recording only queues. The thread writes what is queued about once a second in one transaction, and keeps
// the file trimmed in small steps between writes. A failure to open or write is reported once, until writing works
// again; what could not be written is dropped and the caller carries on. A damaged file is set aside and a new
// one begun.
class HistoryRecorder {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    struct Setup {
        std::filesystem::path file; // HistoryFile::defaultPath() outside tests
        // Called on the recorder's thread.
        std::function<void(const HistoryFailure&)> onFailure;
        Clock clock = [] { return std::chrono::system_clock::now(); };
    };
    // Hours of samples from a few boards: reached only when the file stops answering altogether.
    static constexpr std::size_t queueLimit = 20000;
    static constexpr std::chrono::seconds upkeepInterval{60};

    explicit HistoryRecorder(Setup setup);
    // Writes what is queued, then stops.
    ~HistoryRecorder();
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    // Stamped with the clock's current second.
    void record(const HistoryBoard& board, const Snapshot& snapshot);
    void record(const HistoryBoard& board, HistoryEventKind kind, std::string text);

    // Waits until everything recorded so far is written and the upkeep is done (tests, benchmarks).
    void flush();

private:
    HistoryTime now() const;
    // Now, or the time of the oldest record still queued: summaries never pass what is still to be written.
    HistoryTime upkeepTime();
    void enqueue(HistoryEntry entry);
    void run();
    bool attempt(const std::function<void(HistoryStore&)>& work);
    bool setAside(const std::optional<HistoryFile::Identity>& damaged, const SQLiteError& error);
    bool upkeepStep();
    void fail(const std::string& reason);

    const Setup setup_;

    // Only touched on the recorder's thread.
    std::unique_ptr<HistoryStore> store_;
    bool failing_ = false;

    std::mutex mutex_; // guards the members below
    std::condition_variable wake_;
    std::condition_variable flushed_;
    std::vector<HistoryEntry> queue_;
    bool dropped_ = false;
    std::uint64_t flushRequested_ = 0;
    std::uint64_t flushDone_ = 0;
    bool stopping_ = false;

    std::thread thread_; // last: starts once everything above exists
};

} // namespace quelmar
