#include "TemporaryDirectory.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/SQLite.h"
#include "system/Files.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quelmar;
using namespace std::chrono_literals;
using quelmar::test::TemporaryDirectory;
using std::chrono::seconds;
using testing::ElementsAre;
using testing::Field;
namespace fs = std::filesystem;

namespace {

const HistoryTime t0 = std::chrono::sys_days{2025y / 3 / 1} + 12h;
const HistoryBoard board{"location:1048832", "QM-0042"};

// The recorders' time, moved by the test.
struct TestClock {
    std::atomic<std::int64_t> offset{0};
    HistoryRecorder::Clock clock() {
        return [this] { return std::chrono::system_clock::time_point(t0 + seconds(offset.load())); };
    }
};

// Failures as the callback reports them, from the recorder's thread.
struct Failures {
    std::mutex mutex;
    std::vector<HistoryFailure> seen;
    std::function<void(const HistoryFailure&)> callback() {
        return [this](const HistoryFailure& failure) {
            std::lock_guard lock(mutex);
            seen.push_back(failure);
        };
    }
};

Snapshot charge(std::int64_t capacity, std::int64_t status = 0b1000011) {
    Snapshot s;
    s.capacity = capacity;
    s.batteryVoltage = 12.0 + static_cast<double>(capacity) / 100;
    s.inputVoltage = status & 1 ? 12.0 : 0.0;
    s.status = status;
    return s;
}

} // namespace

TEST(HistoryRecorder, RecordsSamplesAndEventsReadBackAsTheyWere) {
    const TemporaryDirectory dir;
    TestClock time;
    Snapshot full = charge(57);
    full.runtime = 3600;
    full.batteryCurrent = -1.5;
    full.temperature = 25.0;
    full.inputCurrent = 1.25;
    full.output5Voltage = 5.0;
    full.output5Current = -0.5;
    full.output12Voltage = 12.0;
    full.output12Current = 1.0;
    full.load = 42;
    {
        HistoryRecorder recorder({dir / "history.sqlite", {}, time.clock()});
        recorder.record(board, full);
        time.offset = 1;
        recorder.record(board, charge(58)); // a legacy board's sample: outputs absent
        recorder.record(board, HistoryEventKind::mainsLost, "市电断开");
    }
    HistoryStore store(dir / "history.sqlite");
    EXPECT_THAT(store.samples(board, t0, t0 + 10s),
                ElementsAre(HistorySample{t0, full}, HistorySample{t0 + 1s, charge(58)}));
    EXPECT_THAT(store.events(board, t0, t0 + 10s),
                ElementsAre(HistoryEvent{t0 + 1s, HistoryEventKind::mainsLost, "市电断开"}));
    EXPECT_THAT(store.boards(), ElementsAre(board));
    EXPECT_EQ(store.latestBoard(), board);
}

TEST(HistoryRecorder, KeepsSamplesFor48HoursAndMinutesForAYear) {
    const TemporaryDirectory dir;
    TestClock time;
    HistoryRecorder recorder({dir / "history.sqlite", {}, time.clock()});
    for (const auto& [at, capacity] : std::vector<std::pair<int, int>>{{0, 50}, {1, 40}, {30, 60}, {61, 70}}) {
        time.offset = at;
        recorder.record(board, charge(capacity));
    }
    recorder.record(board, HistoryEventKind::mainsLost, "");
    struct Step {
        std::chrono::seconds now;
        std::vector<std::uint32_t> samplesPerPoint; // of the first two minutes, one second a bucket
        std::size_t events;
    };
    // clang-format off
    const std::vector<Step> steps = {
        {10min,          {1, 1, 1, 1}, 1},
        {47h,            {1, 1, 1, 1}, 1},
        {49h,            {3, 1},       1}, // the minutes' summaries only
        {24h * 364,      {3, 1},       1},
        {24h * 366,      {},           0},
    };
    // clang-format on
    HistoryStore store(dir / "history.sqlite");
    for (const auto& step : steps) {
        time.offset = step.now.count();
        recorder.flush();
        const auto span = store.span(board, t0, t0 + 119s, 1s);
        std::vector<std::uint32_t> samples;
        for (const auto& point : span.points) {
            samples.push_back(point.samples);
        }
        EXPECT_EQ(samples, step.samplesPerPoint) << step.now.count();
        std::uint32_t summarised = 0;
        for (const auto& point : store.span(board, t0, t0 + 119s, 600s).points) {
            summarised += point.samples;
        }
        EXPECT_EQ(summarised, step.events == 0 ? 0 : 4) << step.now.count();
        EXPECT_EQ(store.events(board, t0, t0 + 119s).size(), step.events) << step.now.count();
        if (step.samplesPerPoint.size() == 2) {
            EXPECT_EQ(span.points[0][HistoryField::capacity], (HistoryRange{40, 60, 150, 3}));
            EXPECT_EQ(span.points[1][HistoryField::capacity], (HistoryRange{70, 70, 70, 1}));
            // Exported as each minute's means.
            const auto exported = store.samples(board, t0, t0 + 119s);
            ASSERT_EQ(exported.size(), 2u);
            EXPECT_EQ(exported[0].snapshot.capacity, 50);
            EXPECT_EQ(exported[1].time, t0 + 60s);
        }
    }
}

TEST(HistoryStore, OutageLengthAndLowestCharge) {
    const TemporaryDirectory dir;
    TestClock time;
    HistoryRecorder recorder({dir / "history.sqlite", {}, time.clock()});
    const auto at = [&](int offset) {
        time.offset = offset;
        return &recorder;
    };
    at(5)->record(board, charge(80));
    at(10)->record(board, HistoryEventKind::mainsLost, "");
    at(20)->record(board, charge(70, 0b1000100));
    at(90)->record(board, charge(55, 0b1000100));
    at(100)->record(board, HistoryEventKind::mainsRestored, "");
    at(110)->record(board, charge(60));
    at(150)->record(board, HistoryEventKind::mainsLost, "");
    at(160)->record(board, charge(58, 0b1000100));
    recorder.flush();

    HistoryStore store(dir / "history.sqlite");
    const auto expectOutages = [&](HistoryTime from, const char* when) {
        const auto outages = store.span(board, from, t0 + 200s, 1s).outages;
        ASSERT_EQ(outages.size(), 2u) << when;
        EXPECT_EQ(outages[0].start, t0 + 10s);
        EXPECT_EQ(outages[0].end, t0 + 100s);
        EXPECT_EQ(outages[0].length, 90s);
        EXPECT_EQ(outages[0].lowestCharge, 55) << when;
        EXPECT_FALSE(outages[1].end) << "still out";
        EXPECT_EQ(outages[1].length, 50s);
        EXPECT_EQ(outages[1].lowestCharge, 58) << when;
    };
    expectOutages(t0, "samples kept");
    expectOutages(t0 + 50s, "an outage that began before the span");
    time.offset = (49h).count();
    recorder.flush();
    expectOutages(t0, "minutes only");
}

// A chart's buckets come from samples, minutes and ten minutes at once: each sample counted once, an outage of
// ten seconds in sight at every width.
TEST(HistoryStore, SpansReadEveryLevelOnce) {
    const TemporaryDirectory dir;
    TestClock time;
    HistoryRecorder recorder({dir / "history.sqlite", {}, time.clock()});
    for (int at = 0; at < 7300; at += 10) {
        time.offset = at;
        recorder.record(board, at == 3000 ? charge(30, 0b1000100) : charge(90));
    }
    time.offset = 7300; // ten minutes summarised to 7200, minutes to 7260, samples after
    recorder.flush();
    HistoryStore store(dir / "history.sqlite");
    for (const auto bucket : {1s, 60s, 600s, 1200s, 3600s}) {
        // From a time inside the first bucket, that bucket holds what it always holds; seconds hold only the span.
        for (const auto from : {0s, 5s}) {
            std::uint32_t samples = 0;
            for (const auto& point : store.span(board, t0 + from, t0 + 7299s, bucket).points) {
                samples += point.samples;
                const bool out = point.time <= t0 + 3000s && t0 + 3000s < point.time + bucket;
                EXPECT_EQ(point.statusAll & 1, out ? 0 : 1) << bucket.count();
                EXPECT_EQ(point[HistoryField::capacity].min, out ? 30 : 90) << bucket.count();
            }
            EXPECT_EQ(samples, bucket == 1s && from == 5s ? 729u : 730u) << bucket.count() << " from " << from.count();
        }
    }
}

TEST(HistoryRecorder, SetsADamagedFileAsideAndBeginsANewOne) {
    const TemporaryDirectory dir;
    const std::string garbage(8192, 'x');
    { std::ofstream(dir / "history.sqlite") << garbage; }
    TestClock time;
    Failures failures;
    {
        HistoryRecorder recorder({dir / "history.sqlite", failures.callback(), time.clock()});
        recorder.record(board, charge(50));
    }
    const auto kept = dir / "history.sqlite.corrupt-20250301T120000Z";
    ASSERT_THAT(failures.seen, ElementsAre(Field(&HistoryFailure::kind, HistoryFailure::Kind::setAside)));
    EXPECT_EQ(failures.seen[0].setAsideAs, kept);
    EXPECT_EQ(Files::readUpTo(kept, 1 << 20), Bytes(garbage.begin(), garbage.end()));
    HistoryStore store(dir / "history.sqlite");
    EXPECT_EQ(store.samples(board, t0, t0).size(), 1u);
}

TEST(HistoryRecorder, LeavesAFileOfANewerFormatAlone) {
    const TemporaryDirectory dir;
    {
        SQLiteDatabase newer(dir / "history.sqlite", 0);
        newer.execute("PRAGMA user_version = 99");
    }
    Failures failures;
    {
        HistoryRecorder recorder({dir / "history.sqlite", failures.callback()});
        recorder.record(board, charge(50));
    }
    ASSERT_THAT(failures.seen, ElementsAre(Field(&HistoryFailure::kind, HistoryFailure::Kind::unavailable)));
    EXPECT_THAT(failures.seen[0].reason, testing::HasSubstr("newer"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(HistoryRecorder, BeginsANewFileWhenItsFileIsRemoved) {
    const TemporaryDirectory dir;
    TestClock time;
    HistoryRecorder recorder({dir / "history.sqlite", {}, time.clock()});
    recorder.record(board, charge(50));
    recorder.flush();
    for (const char* name : {"history.sqlite", "history.sqlite-wal", "history.sqlite-shm"}) {
        fs::remove(dir / name);
    }
    time.offset = 1;
    recorder.record(board, charge(51));
    recorder.flush();
    EXPECT_THAT(HistoryStore(dir / "history.sqlite").samples(board, t0, t0 + 1s),
                ElementsAre(HistorySample{t0 + 1s, charge(51)}));
}

TEST(HistoryFile, FollowsXDGDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string home = Files::homeDirectory();
    for (const auto& [xdg, expected] : std::vector<std::pair<const char*, std::string>>{
             {"/srv/data", "/srv/data/quelmar/history.sqlite"},
             {nullptr, home + "/.local/share/quelmar/history.sqlite"},
             {"relative/data", home + "/.local/share/quelmar/history.sqlite"}}) {
        xdg ? ::setenv("XDG_DATA_HOME", xdg, 1) : ::unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(HistoryFile::defaultPath(), expected) << (xdg ? xdg : "unset");
    }
    saved ? ::setenv("XDG_DATA_HOME", saved, 1) : ::unsetenv("XDG_DATA_HOME");
}

// Permissions bind everyone but root: as root the recorder runs in a child process as nobody.
TEST(HistoryRecorder, AReadOnlyFolderLeavesTheCallerWorking) {
    const TemporaryDirectory dir;
    const auto folder = dir / "data";
    fs::create_directory(folder);
    const auto body = [&]() -> int {
        ::chmod(folder.c_str(), 0555);
        Failures failures;
        TestClock time;
        HistoryRecorder recorder({folder / "history.sqlite", failures.callback(), time.clock()});
        for (int i = 0; i < 3; ++i) {
            time.offset = i;
            recorder.record(board, charge(50));
            recorder.record(board, HistoryEventKind::boardConnected, "");
            recorder.flush();
        }
        if (failures.seen.size() != 1 || failures.seen[0].kind != HistoryFailure::Kind::unavailable) {
            return 1;
        }
        // Writable again, it records again.
        ::chmod(folder.c_str(), 0755);
        time.offset = 3;
        recorder.record(board, charge(50));
        recorder.flush();
        return failures.seen.size() == 1 && fs::exists(folder / "history.sqlite") ? 0 : 2;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(body(), 0);
        return;
    }
    fs::permissions(dir.path(), fs::perms(0755));
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? body() : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(HistoryRecorder, TwoRecordersOfOneBoardStoreEachSampleOnce) {
    const TemporaryDirectory dir;
    TestClock time;
    Failures failures;
    {
        HistoryRecorder window({dir / "history.sqlite", failures.callback(), time.clock()});
        HistoryRecorder watch({dir / "history.sqlite", failures.callback(), time.clock()});
        for (int second = 0; second < 5; ++second) {
            time.offset = second;
            window.record(board, charge(50 + second));
            watch.record(board, charge(50 + second));
            if (second == 2) {
                window.record(board, HistoryEventKind::mainsLost, "");
            }
            if (second == 3) {
                watch.record(board, HistoryEventKind::mainsLost, "");
            }
            window.flush();
            watch.flush();
        }
    }
    HistoryStore store(dir / "history.sqlite");
    EXPECT_EQ(store.samples(board, t0, t0 + 10s).size(), 5u);
    EXPECT_EQ(store.events(board, t0, t0 + 10s).size(), 1u);
    EXPECT_TRUE(failures.seen.empty()) << failures.seen[0].description();
}
