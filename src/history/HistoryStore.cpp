#include "history/HistoryStore.h"

#include "history/Downsampler.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

namespace quelmar {

namespace {

using std::chrono::seconds;

constexpr int schemaVersion = 1;
constexpr int busyTimeoutMs = 5000;
constexpr std::chrono::milliseconds journalRetry{10};
constexpr auto none = std::numeric_limits<std::int64_t>::min();
// Events of a kind this close together are one event seen by two processes.
constexpr std::int64_t sameEvent = 2;
constexpr std::int64_t eventBatch = 500;
// Rows of one board summarised or pruned per step of upkeep.
constexpr std::int64_t rowBatch = 3600;

// What is stored, finest first: every sample, and the summaries of complete minutes and of ten minutes. The ten
// minutes let a chart of a month read a tenth of the rows.
struct Level {
    const char* table;
    std::int64_t width; // seconds a row stands for
};
constexpr std::array<Level, 3> levels = {{{"samples", 1}, {"minutes", 60}, {"ten_minutes", 600}}};
constexpr std::size_t raw = 0;
constexpr std::size_t minutes = 1;
constexpr std::int64_t minute = 60;

std::int64_t secondsOf(HistoryTime time) {
    return time.time_since_epoch().count();
}

HistoryTime timeOf(std::int64_t value) {
    return HistoryTime(seconds(value));
}

std::int64_t floorTo(std::int64_t time, std::int64_t width) {
    return time / width * width - (time % width < 0 ? width : 0);
}

// ", a, b" of every field's column, each with the suffixes given.
std::string columns(std::initializer_list<const char*> suffixes, const char* type = "") {
    std::string out;
    for (const auto field : historyFields()) {
        for (const char* suffix : suffixes) {
            out += ", ";
            out += infoOf(field).column;
            out += suffix;
            out += type;
        }
    }
    return out;
}

std::string parameters(std::size_t count) {
    std::string out = "?";
    for (std::size_t i = 1; i < count; ++i) {
        out += ", ?";
    }
    return out;
}

// Row layouts, each led by the time.
const std::string sampleColumns = "time" + columns({""}) + ", status";
const std::string summaryColumns = "time, samples" + columns({"_min", "_mean", "_max"}) + ", status_any, status_all";

std::string schema() {
    std::string sql = "CREATE TABLE boards (id INTEGER PRIMARY KEY, device TEXT NOT NULL, serial TEXT NOT NULL,"
                      " UNIQUE (device, serial));"
                      // Values are whole multiples of each field's resolution (centivolts, tenths of a degree).
                      "CREATE TABLE samples (board INTEGER NOT NULL, time INTEGER NOT NULL" +
                      columns({""}, " INTEGER") +
                      ", status INTEGER NOT NULL, PRIMARY KEY (board, time)) WITHOUT ROWID;";
    for (std::size_t level = minutes; level < levels.size(); ++level) {
        sql += std::string("CREATE TABLE ") + levels[level].table +
               " (board INTEGER NOT NULL, time INTEGER NOT NULL, samples INTEGER NOT NULL" +
               columns({"_min", "_mean", "_max"}, " INTEGER") +
               ", status_any INTEGER NOT NULL, status_all INTEGER NOT NULL, PRIMARY KEY (board, time)) WITHOUT ROWID;";
    }
    return sql +
           "CREATE TABLE events (id INTEGER PRIMARY KEY, board INTEGER NOT NULL, time INTEGER NOT NULL,"
           " kind TEXT NOT NULL, text TEXT NOT NULL);"
           "CREATE INDEX events_by_board ON events (board, time);"
           "PRAGMA user_version = " +
           std::to_string(schemaVersion) + ";";
}

const std::filesystem::path& withFolder(const std::filesystem::path& file) {
    HistoryFile::createFolder(file);
    return file;
}

void foldSample(const SQLiteStatement& row, HistoryPoint& into) {
    int column = 1;
    for (const auto field : historyFields()) {
        if (!row.isNull(column)) {
            into[field].add(fromStored(field, row.integer(column)));
        }
        ++column;
    }
    const auto status = row.integer(column);
    into.addStatus(status, status, 1);
}

void foldSummary(const SQLiteStatement& row, HistoryPoint& into) {
    const auto samples = static_cast<std::uint32_t>(row.integer(1));
    int column = 2;
    for (const auto field : historyFields()) {
        if (!row.isNull(column)) {
            const double mean = fromStored(field, row.integer(column + 1));
            into[field].merge({fromStored(field, row.integer(column)), fromStored(field, row.integer(column + 2)),
                               mean * samples, samples});
        }
        column += 3;
    }
    into.addStatus(row.integer(column), row.integer(column + 1), samples);
}

void fold(std::size_t level, const SQLiteStatement& row, HistoryPoint& into) {
    level == raw ? foldSample(row, into) : foldSummary(row, into);
}

HistorySample sampleFrom(const SQLiteStatement& row) {
    HistorySample sample{timeOf(row.integer(0)), {}};
    int column = 1;
    for (const auto field : historyFields()) {
        if (const auto stored = row.optionalInteger(column++)) {
            setValue(sample.snapshot, field, fromStored(field, *stored));
        }
    }
    sample.snapshot.status = row.integer(column);
    return sample;
}

} // namespace

std::chrono::seconds lengthOf(RecentSpan span) {
    switch (span) {
    case RecentSpan::lastHour:
        return std::chrono::hours(1);
    case RecentSpan::last24Hours:
        return std::chrono::hours(24);
    case RecentSpan::last7Days:
        return std::chrono::days(7);
    case RecentSpan::last30Days:
        return std::chrono::days(30);
    }
    return std::chrono::hours(1);
}

// The statements of one level.
struct HistoryStore::LevelStatements {
    LevelStatements(sqlite3* db, const Level& level)
        : last(db, std::string("SELECT max(time) FROM ") + level.table + " WHERE board = ?")
        , firstFrom(db, std::string("SELECT min(time) FROM ") + level.table + " WHERE board = ? AND time >= ?")
        , between(db, "SELECT " + (level.width == 1 ? sampleColumns : summaryColumns) + " FROM " + level.table +
                          " WHERE board = ? AND time >= ? AND time < ? ORDER BY time")
        , insert(db, level.width == 1 ? "INSERT OR IGNORE INTO samples (board, " + sampleColumns + ") VALUES (" +
                                            parameters(historyFieldCount + 3) + ")"
                                      : std::string("INSERT OR IGNORE INTO ") + level.table + " (board, " +
                                            summaryColumns + ") VALUES (" + parameters(3 * historyFieldCount + 5) + ")")
        , lowestCharge(db, std::string("SELECT min(") + (level.width == 1 ? "capacity" : "capacity_min") + ") FROM " +
                               level.table + " WHERE board = ? AND time >= ? AND time < ?")
        // Bounded by the board's oldest row, so that each step deletes a batch at most.
        , prune(db, std::string("DELETE FROM ") + level.table +
                        " WHERE board = ?1 AND time < ?2 AND time < (SELECT min(time) FROM " + level.table +
                        " WHERE board = ?1) + ?3") {}

    SQLiteStatement last, firstFrom, between, insert, lowestCharge, prune;
};

struct HistoryStore::Statements {
    explicit Statements(sqlite3* db)
        : levels{LevelStatements(db, quelmar::levels[0]), LevelStatements(db, quelmar::levels[1]),
                 LevelStatements(db, quelmar::levels[2])}
        , insertBoard(db, "INSERT OR IGNORE INTO boards (device, serial) VALUES (?, ?)")
        , findBoard(db, "SELECT id FROM boards WHERE device = ? AND serial = ?")
        , allBoards(db, "SELECT id, device, serial FROM boards ORDER BY id")
        , sameEventNear(db, "SELECT count(*) FROM events WHERE board = ? AND time BETWEEN ? AND ? AND kind = ?")
        , insertEvent(db, "INSERT INTO events (board, time, kind, text) VALUES (?, ?, ?, ?)")
        , eventsBetween(db, "SELECT time, kind, text FROM events WHERE board = ? AND time >= ? AND time < ?"
                            " ORDER BY time, id")
        , lastMainsLost(db, "SELECT max(time) FROM events WHERE board = ? AND time < ? AND kind = 'mains-lost'")
        , pruneEvents(db, "DELETE FROM events WHERE id IN (SELECT id FROM events WHERE time < ? LIMIT ?)") {}

    std::array<LevelStatements, quelmar::levels.size()> levels;
    SQLiteStatement insertBoard, findBoard, allBoards;
    SQLiteStatement sameEventNear, insertEvent, eventsBetween, lastMainsLost, pruneEvents;
};

HistoryStore::HistoryStore(const std::filesystem::path& file)
    : database_(withFolder(file), busyTimeoutMs) {
    // A garbage file fails here, on the first read of its header. Switching to WAL does not wait for a lock held by
    // another connection (two processes creating the file at once), so it is tried again for a while.
    for (int attempt = 1;; ++attempt) {
        try {
            database_.execute("PRAGMA journal_mode = WAL");
            break;
        } catch (const SQLiteError& error) {
            if (!error.busy() || attempt * journalRetry >= std::chrono::milliseconds(busyTimeoutMs)) {
                throw;
            }
            std::this_thread::sleep_for(journalRetry);
        }
    }
    // In WAL mode this keeps the file consistent and syncs at checkpoints only, not once a second: a power cut may
    // lose the last samples, never the history.
    database_.execute("PRAGMA synchronous = NORMAL");
    SQLiteStatement version(database_.handle(), "PRAGMA user_version");
    if (version.scalar().value_or(0) != schemaVersion) {
        SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::write);
        const auto found = version.scalar().value_or(0);
        if (found == 0) {
            database_.execute(schema());
        } else if (found > schemaVersion) {
            throw std::runtime_error(file.string() + " was written by a newer Quelmar (history format " +
                                     std::to_string(found) + ")");
        }
        transaction.commit();
    }
    identity_ = HistoryFile::identityOf(file);
    statements_ = std::make_unique<Statements>(database_.handle());
}

HistoryStore::~HistoryStore() = default;

std::chrono::seconds HistoryStore::bucketFor(std::chrono::seconds length, std::size_t maxPoints) {
    const auto narrowest = Downsampler::widthFor(length, maxPoints, seconds(1));
    // The coarsest level that still gives a third of the points or more: a day reads 1,440 minutes rather than
    // 86,400 samples, a month 4,320 summaries of ten minutes.
    auto level = levels.rbegin();
    while (level->width > 1 && seconds(level->width) > 3 * narrowest) {
        ++level;
    }
    return Downsampler::widthFor(length, maxPoints, seconds(level->width));
}

std::optional<std::int64_t> HistoryStore::boardID(const HistoryBoard& board, bool create) {
    if (const auto found = boardIDs_.find(board); found != boardIDs_.end()) {
        return found->second;
    }
    if (create) {
        statements_->insertBoard.bind(1, board.id).bind(2, board.serial).run();
    }
    const auto id = statements_->findBoard.bind(1, board.id).bind(2, board.serial).scalar();
    if (id) {
        boardIDs_.emplace(board, *id);
    }
    return id;
}

std::vector<std::int64_t> HistoryStore::boardIDs() {
    std::vector<std::int64_t> ids;
    auto& all = statements_->allBoards;
    while (all.step()) {
        ids.push_back(all.integer(0));
    }
    return ids;
}

void HistoryStore::write(std::span<const HistoryEntry> entries) {
    try {
        SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::write);
        for (const auto& entry : entries) {
            const auto board = *boardID(entry.board, true);
            if (const auto* sample = std::get_if<HistorySample>(&entry.record)) {
                auto& insert = statements_->levels[raw].insert;
                insert.bind(1, board).bind(2, secondsOf(sample->time));
                int index = 3;
                for (const auto field : historyFields()) {
                    const auto value = valueOf(sample->snapshot, field);
                    insert.bind(index++, value ? std::optional(toStored(field, *value)) : std::nullopt);
                }
                insert.bind(index, sample->snapshot.status).run();
            } else {
                const auto& event = std::get<HistoryEvent>(entry.record);
                const auto time = secondsOf(event.time);
                const auto kind = nameOf(event.kind);
                auto& near = statements_->sameEventNear;
                if (near.bind(1, board).bind(2, time - sameEvent).bind(3, time + sameEvent).bind(4, kind).scalar() ==
                    0) {
                    statements_->insertEvent.bind(1, board).bind(2, time).bind(3, kind).bind(4, event.text).run();
                }
            }
        }
        transaction.commit();
    } catch (...) {
        // Boards added by the failed transaction are gone with it.
        boardIDs_.clear();
        throw;
    }
}

void HistoryStore::insertSummary(std::size_t level, std::int64_t board, const HistoryPoint& point) {
    auto& insert = statements_->levels[level].insert;
    insert.bind(1, board).bind(2, secondsOf(point.time)).bind(3, std::int64_t{point.samples});
    int index = 4;
    for (const auto field : historyFields()) {
        const auto& range = point[field];
        const auto stored = [&](double value) {
            return range.present() ? std::optional(toStored(field, value)) : std::nullopt;
        };
        insert.bind(index, stored(range.min))
            .bind(index + 1, stored(range.present() ? range.mean() : 0))
            .bind(index + 2, stored(range.max));
        index += 3;
    }
    insert.bind(index, point.statusAny).bind(index + 1, point.statusAll).run();
}

void HistoryStore::writeMinutes(const HistoryBoard& board, std::span<const HistoryPoint> summaries) {
    try {
        SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::write);
        const auto id = *boardID(board, true);
        for (const auto& point : summaries) {
            insertSummary(minutes, id, point);
        }
        transaction.commit();
    } catch (...) {
        boardIDs_.clear();
        throw;
    }
}

template <typename Take>
void HistoryStore::read(std::size_t level, std::int64_t board, std::int64_t from, std::int64_t to, Take take) {
    auto& rows = statements_->levels[level].between;
    rows.bind(1, board).bind(2, from).bind(3, to);
    while (rows.step()) {
        take(rows);
    }
}

bool HistoryStore::rollUp(std::size_t level, std::int64_t board, HistoryTime now) {
    const auto width = levels[level].width;
    const auto end = floorTo(secondsOf(now - rollUpDelay), width);
    const auto last = statements_->levels[level].last.bind(1, board).scalar();
    const auto first =
        statements_->levels[level - 1].firstFrom.bind(1, board).bind(2, last ? *last + width : none).scalar();
    if (!first || floorTo(*first, width) >= end) {
        return false;
    }
    const auto start = floorTo(*first, width);
    Downsampler summaries{seconds(width)};
    read(level - 1, board, start, std::min(end, start + rowBatch * levels[level - 1].width),
         [&](const SQLiteStatement& row) { fold(level - 1, row, summaries.bucketAt(timeOf(row.integer(0)))); });
    for (const auto& point : summaries.takePoints()) {
        insertSummary(level, board, point);
    }
    return true;
}

bool HistoryStore::prune(std::size_t level, std::int64_t board, std::int64_t before) {
    statements_->levels[level].prune.bind(1, board).bind(2, before).bind(3, rowBatch * levels[level].width).run();
    return database_.changes() > 0;
}

bool HistoryStore::maintain(HistoryTime now) {
    SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::write);
    const auto boards = boardIDs();
    const auto step = [&] {
        // Finest first: each summary is made from the complete level below it.
        for (std::size_t level = minutes; level < levels.size(); ++level) {
            for (const auto board : boards) {
                if (rollUp(level, board, now)) {
                    return true;
                }
            }
        }
        const auto yearAgo = secondsOf(now - minuteRetention);
        for (const auto board : boards) {
            // Never a sample whose minute is not summarised yet.
            const auto last = statements_->levels[minutes].last.bind(1, board).scalar();
            if (prune(raw, board, std::min(secondsOf(now - rawRetention), last ? *last + minute : none))) {
                return true;
            }
            for (std::size_t level = minutes; level < levels.size(); ++level) {
                if (prune(level, board, yearAgo)) {
                    return true;
                }
            }
        }
        statements_->pruneEvents.bind(1, yearAgo).bind(2, eventBatch).run();
        return database_.changes() > 0;
    };
    const bool more = step();
    transaction.commit();
    return more;
}

std::vector<HistoryBoard> HistoryStore::boards() {
    std::vector<HistoryBoard> out;
    auto& all = statements_->allBoards;
    while (all.step()) {
        out.push_back({all.text(1), all.text(2)});
    }
    return out;
}

std::optional<HistoryBoard> HistoryStore::latestBoard() {
    SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::read);
    std::optional<HistoryBoard> latest;
    std::int64_t newest = none;
    for (const auto& board : boards()) {
        const auto id = *boardID(board, false);
        const auto last = statements_->levels[raw].last.bind(1, id).scalar();
        const auto time = last ? last : statements_->levels[minutes].last.bind(1, id).scalar();
        if (time && *time >= newest) {
            newest = *time;
            latest = board;
        }
    }
    return latest;
}

std::int64_t HistoryStore::firstKept(std::int64_t board) {
    return statements_->levels[raw].firstFrom.bind(1, board).bind(2, none).scalar().value_or(
        std::numeric_limits<std::int64_t>::max());
}

std::optional<std::int64_t> HistoryStore::lowestCharge(std::int64_t board, HistoryTime from, HistoryTime to) {
    // Minutes only where the samples are gone: a minute's lowest may lie before the outage began.
    const auto end = secondsOf(to) + 1;
    const auto split = std::min(end, floorTo(firstKept(board), minute));
    std::optional<std::int64_t> lowest;
    for (const auto& [level, begin, stop] :
         {std::tuple{raw, secondsOf(from), end}, std::tuple{minutes, floorTo(secondsOf(from), minute), split}}) {
        if (const auto found =
                statements_->levels[level].lowestCharge.bind(1, board).bind(2, begin).bind(3, stop).scalar()) {
            lowest = lowest ? std::min(*lowest, *found) : *found;
        }
    }
    return lowest;
}

HistorySpan HistoryStore::span(const HistoryBoard& board, HistoryTime from, HistoryTime to, seconds bucket) {
    HistorySpan out;
    out.board = board;
    out.bucket = bucket = std::max(bucket, seconds(1));
    SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::read);
    const auto id = boardID(board, false);
    if (!id) {
        return out;
    }
    const auto begin = secondsOf(from);
    const auto end = secondsOf(to) + 1;
    Downsampler points(bucket);
    const auto readInto = [&](std::size_t level, std::int64_t start, std::int64_t stop) {
        read(level, *id, start, stop,
             [&](const SQLiteStatement& row) { fold(level, row, points.bucketAt(timeOf(row.integer(0)))); });
    };
    // The coarsest level the buckets allow, up to its last summary; then each finer one from where the coarser ends.
    // Buckets under a minute take samples where they are kept and the minutes before that.
    auto level = levels.size() - 1;
    while (level > raw && bucket.count() % levels[level].width != 0) {
        --level;
    }
    std::int64_t cursor = begin;
    if (level == raw) {
        cursor = std::clamp(floorTo(firstKept(*id), minute), begin, end);
        if (cursor > begin) {
            readInto(minutes, floorTo(begin, minute), cursor);
        }
    }
    for (; level > raw; --level) {
        const auto last = statements_->levels[level].last.bind(1, *id).scalar();
        const auto levelEnd = last ? std::min(*last + levels[level].width, end) : none;
        if (levelEnd > cursor) {
            readInto(level, floorTo(cursor, levels[level].width), levelEnd);
            cursor = levelEnd;
        }
    }
    readInto(raw, cursor, end);
    out.points = points.takePoints();

    out.events = events(board, from, to);
    // An outage that began before the span and lasts into it counts too.
    const auto lost = statements_->lastMainsLost.bind(1, *id).bind(2, begin).scalar();
    auto all = lost ? events(board, timeOf(*lost), from - seconds(1)) : std::vector<HistoryEvent>{};
    all.insert(all.end(), out.events.begin(), out.events.end());
    for (auto& outage : outagesOf(all, to)) {
        if (outage.end && *outage.end < from) {
            continue;
        }
        outage.lowestCharge = lowestCharge(*id, outage.start, outage.end.value_or(to));
        out.outages.push_back(outage);
    }
    return out;
}

HistorySpan HistoryStore::recent(RecentSpan which, const std::optional<HistoryBoard>& board, HistoryTime now,
                                 std::size_t maxPoints) {
    const auto chosen = board ? board : latestBoard();
    if (!chosen) {
        return {};
    }
    const auto length = lengthOf(which);
    return span(*chosen, now - length, now, bucketFor(length + seconds(1), maxPoints));
}

std::vector<HistorySample> HistoryStore::samples(const HistoryBoard& board, HistoryTime from, HistoryTime to) {
    std::vector<HistorySample> out;
    SQLiteTransaction transaction(database_, SQLiteTransaction::Kind::read);
    const auto id = boardID(board, false);
    if (!id) {
        return out;
    }
    const auto begin = secondsOf(from);
    const auto end = secondsOf(to) + 1;
    // The minute of the first sample kept is read as samples: its summary holds them too.
    const auto split = std::clamp(floorTo(firstKept(*id), minute), begin, end);
    read(minutes, *id, begin, split, [&](const SQLiteStatement& row) {
        HistoryPoint minute;
        minute.time = timeOf(row.integer(0));
        foldSummary(row, minute);
        out.push_back({minute.time, minute.means()});
    });
    read(raw, *id, split, end, [&](const SQLiteStatement& row) { out.push_back(sampleFrom(row)); });
    return out;
}

std::vector<HistoryEvent> HistoryStore::events(const HistoryBoard& board, HistoryTime from, HistoryTime to) {
    std::vector<HistoryEvent> out;
    const auto id = boardID(board, false);
    if (!id) {
        return out;
    }
    auto& rows = statements_->eventsBetween;
    rows.bind(1, *id).bind(2, secondsOf(from)).bind(3, secondsOf(to) + 1);
    while (rows.step()) {
        if (const auto kind = eventKindNamed(rows.text(1))) {
            out.push_back({timeOf(rows.integer(0)), *kind, rows.text(2)});
        }
    }
    return out;
}

} // namespace quelmar
