#pragma once

#include "history/HistoryFile.h"
#include "history/HistoryPoint.h"
#include "history/HistoryRecord.h"
#include "history/Outage.h"
#include "history/SQLite.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace quelmar {

// What a chart of one board over a span shows.
struct HistorySpan {
    std::optional<HistoryBoard> board; // none when nothing was ever recorded
    std::chrono::seconds bucket{1};    // the width of each point
    std::vector<HistoryPoint> points;
    std::vector<Outage> outages; // those overlapping the span, with their lowest charge
    std::vector<HistoryEvent> events;
};

enum class RecentSpan { lastHour, last24Hours, last7Days, last30Days };
std::chrono::seconds lengthOf(RecentSpan span);

// One connection to the history file (SQLite, WAL mode), for one thread at a time. Several connections, in this
// process or others, may use the file at once: writes wait up to five seconds for each other.
// Every sample of the last 48 hours is kept; complete minutes are summarised (minimum, mean, maximum per field) as
// they pass and kept for a year, and so are ten minutes, for long charts. Errors are thrown: SQLiteError
// (corrupt() for a damaged file), std::filesystem::filesystem_error, std::runtime_error for a newer format.
class HistoryStore {
public:
    static constexpr std::chrono::hours rawRetention{48};
    static constexpr std::chrono::days minuteRetention{365};
    // A minute is summarised this long after it ends, so that samples still queued are in it.
    static constexpr std::chrono::seconds rollUpDelay{10};
    static constexpr std::size_t defaultMaxPoints = 4000;

    // Opens the file, creating it, its folder and its tables when missing.
    explicit HistoryStore(const std::filesystem::path& file);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // The file this connection opened, to tell whether the path still names it.
    const std::optional<HistoryFile::Identity>& identity() const { return identity_; }

    // Writes the entries in one transaction. A sample is left out when its board already has one in that second,
    // an event when its board has one of that kind within two seconds: another process recording the same board.
    void write(std::span<const HistoryEntry> entries);
    // The bulk path: summarised minutes written directly, as a simulated or imported history.
    void writeMinutes(const HistoryBoard& board, std::span<const HistoryPoint> minutes);
    // One small step of upkeep (summarising what is complete, then pruning what has aged out); true while there
    // may be more to do. Each step is its own short transaction, so other writers wait milliseconds at most.
    bool maintain(HistoryTime now);

    std::vector<HistoryBoard> boards();
    // The board with the newest record.
    std::optional<HistoryBoard> latestBoard();

    // The width of a chart's points over length: at most maxPoints of them, each a whole number of what is stored
    // (seconds, minutes or ten minutes), so that a long span reads summaries rather than every sample.
    static std::chrono::seconds bucketFor(std::chrono::seconds length, std::size_t maxPoints = defaultMaxPoints);
    // From and to both included. Buckets are aligned to the epoch: a live chart asks again for the span from the
    // start of its last bucket, with the same width, and replaces that bucket.
    HistorySpan span(const HistoryBoard& board, HistoryTime from, HistoryTime to, std::chrono::seconds bucket);
    // The span ending now, of the board or else the latest one.
    HistorySpan recent(RecentSpan which, const std::optional<HistoryBoard>& board, HistoryTime now,
                       std::size_t maxPoints = defaultMaxPoints);
    // Every stored sample of the span, for export: each minute's means (and the status bits held throughout it)
    // where only the summary is kept.
    std::vector<HistorySample> samples(const HistoryBoard& board, HistoryTime from, HistoryTime to);
    std::vector<HistoryEvent> events(const HistoryBoard& board, HistoryTime from, HistoryTime to);

private:
    struct LevelStatements;
    struct Statements;

    std::optional<std::int64_t> boardID(const HistoryBoard& board, bool create);
    std::vector<std::int64_t> boardIDs();
    // The time of the board's oldest sample still kept; the largest time when there is none.
    std::int64_t firstKept(std::int64_t board);
    template <typename Take>
    void read(std::size_t level, std::int64_t board, std::int64_t from, std::int64_t to, Take take);
    void insertSummary(std::size_t level, std::int64_t board, const HistoryPoint& point);
    bool rollUp(std::size_t level, std::int64_t board, HistoryTime now);
    bool prune(std::size_t level, std::int64_t board, std::int64_t before);
    std::optional<std::int64_t> lowestCharge(std::int64_t board, HistoryTime from, HistoryTime to);

    SQLiteDatabase database_;
    std::optional<HistoryFile::Identity> identity_;
    std::unique_ptr<Statements> statements_;
    std::map<HistoryBoard, std::int64_t> boardIDs_;
};

} // namespace quelmar
