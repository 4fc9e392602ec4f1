#include "history/HistoryRecorder.h"

#include "history/HistoryStore.h"

#include <algorithm>
#include <utility>
#include <variant>

namespace quelmar {

std::string HistoryFailure::description() const {
    if (kind == Kind::setAside) {
        return "history: " + file.string() + " was damaged (" + reason + "); kept as " + setAsideAs.string() +
               ", a new history begun";
    }
    return "history: cannot record in " + file.string() + ": " + reason;
}

HistoryRecorder::HistoryRecorder(Setup setup)
    : setup_(std::move(setup))
    , thread_([this] { run(); }) {}

HistoryRecorder::~HistoryRecorder() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

HistoryTime HistoryRecorder::now() const {
    return std::chrono::floor<std::chrono::seconds>(setup_.clock());
}

void HistoryRecorder::record(const HistoryBoard& board, const Snapshot& snapshot) {
    enqueue({board, HistorySample{now(), snapshot}});
}

void HistoryRecorder::record(const HistoryBoard& board, HistoryEventKind kind, std::string text) {
    enqueue({board, HistoryEvent{now(), kind, std::move(text)}});
}

HistoryTime HistoryRecorder::upkeepTime() {
    // The clock first: whatever is queued after this reading is no older.
    const auto clock = now();
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return clock;
    }
    return std::min(clock, std::visit([](const auto& record) { return record.time; }, queue_.front().record));
}

void HistoryRecorder::enqueue(HistoryEntry entry) {
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= queueLimit) {
            dropped_ = true;
            return;
        }
        queue_.push_back(std::move(entry));
    }
    wake_.notify_one();
}

void HistoryRecorder::flush() {
    std::unique_lock lock(mutex_);
    const auto request = ++flushRequested_;
    wake_.notify_one();
    flushed_.wait(lock, [&] { return flushDone_ >= request; });
}

void HistoryRecorder::fail(const std::string& reason) {
    if (!failing_) {
        failing_ = true;
        if (setup_.onFailure) {
            setup_.onFailure({HistoryFailure::Kind::unavailable, setup_.file, {}, reason});
        }
    }
}

bool HistoryRecorder::setAside(const std::optional<HistoryFile::Identity>& damaged, const SQLiteError& error) {
    const auto current = HistoryFile::identityOf(setup_.file);
    if (!damaged || !current) {
        return false;
    }
    // Another process may have set it aside already and begun the file that is there now.
    if (*current != *damaged) {
        return true;
    }
    try {
        const auto kept = HistoryFile::setAside(setup_.file, now());
        if (setup_.onFailure) {
            setup_.onFailure({HistoryFailure::Kind::setAside, setup_.file, kept, error.what()});
        }
        return true;
    } catch (const std::exception& renaming) {
        fail(std::string(error.what()) + "; " + renaming.what());
        return false;
    }
}

bool HistoryRecorder::attempt(const std::function<void(HistoryStore&)>& work) {
    // A second round only after a damaged file was set aside.
    for (int round = 0; round < 2; ++round) {
        // A file removed, or set aside by another process: begin the one that is there now.
        if (store_ && HistoryFile::identityOf(setup_.file) != store_->identity()) {
            store_.reset();
        }
        std::optional<HistoryFile::Identity> identity;
        try {
            if (!store_) {
                identity = HistoryFile::identityOf(setup_.file);
                store_ = std::make_unique<HistoryStore>(setup_.file);
            }
            identity = store_->identity();
            work(*store_);
            failing_ = false;
            return true;
        } catch (const SQLiteError& error) {
            store_.reset();
            if (round == 0 && error.corrupt() && setAside(identity, error)) {
                continue;
            }
            fail(error.what());
        } catch (const std::exception& error) {
            store_.reset();
            fail(error.what());
        }
        return false;
    }
    return false;
}

bool HistoryRecorder::upkeepStep() {
    bool more = false;
    const auto until = upkeepTime();
    attempt([&](HistoryStore& store) { more = store.maintain(until); });
    return more;
}

void HistoryRecorder::run() {
    using std::chrono::steady_clock;
    auto nextUpkeep = steady_clock::now();
    bool upkeepLeft = false;
    for (;;) {
        std::vector<HistoryEntry> batch;
        std::uint64_t flushing = 0;
        bool stop = false;
        bool dropped = false;
        {
            std::unique_lock lock(mutex_);
            const auto ready = [&] { return stopping_ || !queue_.empty() || flushRequested_ != flushDone_; };
            if (!upkeepLeft) {
                wake_.wait_until(lock, nextUpkeep, ready);
            }
            batch.swap(queue_);
            stop = stopping_;
            flushing = flushRequested_ != flushDone_ ? flushRequested_ : 0;
            dropped = std::exchange(dropped_, false);
        }
        if (!batch.empty()) {
            attempt([&](HistoryStore& store) { store.write(batch); });
        }
        if (dropped) {
            fail("the history file is not keeping up; samples were dropped");
        }
        if (stop) {
            return;
        }
        if (flushing != 0 || steady_clock::now() >= nextUpkeep) {
            upkeepLeft = true;
            nextUpkeep = steady_clock::now() + upkeepInterval;
        }
        if (upkeepLeft) {
            upkeepLeft = upkeepStep();
            // Flushing does it all at once; otherwise queued samples go first between steps.
            while (flushing != 0 && upkeepLeft) {
                upkeepLeft = upkeepStep();
            }
        }
        if (flushing != 0) {
            std::lock_guard lock(mutex_);
            flushDone_ = flushing;
            flushed_.notify_all();
        }
    }
}

} // namespace quelmar
