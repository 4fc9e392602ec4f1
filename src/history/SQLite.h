#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace quelmar {

// A failed SQLite call: SQLite's message, and its primary result code.
class SQLiteError : public std::runtime_error {
public:
    SQLiteError(int code, const std::string& message);

    int code() const noexcept { return code_; }
    // The file is damaged or is no database at all.
    bool corrupt() const noexcept;
    // Another connection holds the lock.
    bool busy() const noexcept;

private:
    int code_;
};

class SQLiteStatement {
public:
    SQLiteStatement(sqlite3* database, std::string_view sql);
    ~SQLiteStatement();
    SQLiteStatement(const SQLiteStatement&) = delete;
    SQLiteStatement& operator=(const SQLiteStatement&) = delete;

    // Parameters are numbered from 1; binding after a step starts the statement over.
    SQLiteStatement& bind(int index, std::int64_t value);
    SQLiteStatement& bind(int index, std::optional<std::int64_t> value);
    SQLiteStatement& bind(int index, std::string_view value);
    // Another row is there to read.
    bool step();
    // Steps to the end, for statements without rows.
    void run();
    // The first column of the first row, and the statement reset: a statement left mid-way would hold its
    // connection's read snapshot.
    std::optional<std::int64_t> scalar();

    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    std::optional<std::int64_t> optionalInteger(int column) const;
    std::string text(int column) const;

private:
    void restart();

    sqlite3* database_;
    sqlite3_stmt* statement_ = nullptr;
    bool started_ = false;
};

class SQLiteDatabase {
public:
    // Opens or creates the file; every call waits up to busyTimeout while another connection writes.
    SQLiteDatabase(const std::filesystem::path& file, int busyTimeoutMs);
    ~SQLiteDatabase();
    SQLiteDatabase(const SQLiteDatabase&) = delete;
    SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;

    void execute(std::string_view sql);
    std::int64_t changes() const;
    sqlite3* handle() const { return database_; }

private:
    sqlite3* database_ = nullptr;
};

// BEGIN IMMEDIATE for writers, so that two processes never deadlock upgrading their locks; BEGIN for readers that
// need one consistent view across statements. Rolled back unless committed.
class SQLiteTransaction {
public:
    enum class Kind { read, write };
    SQLiteTransaction(SQLiteDatabase& database, Kind kind);
    ~SQLiteTransaction();
    SQLiteTransaction(const SQLiteTransaction&) = delete;
    SQLiteTransaction& operator=(const SQLiteTransaction&) = delete;

    void commit();

private:
    SQLiteDatabase& database_;
    bool open_ = true;
};

} // namespace quelmar
