#include "history/SQLite.h"

#include <sqlite3.h>

namespace quelmar {

namespace {

[[noreturn]] void fail(sqlite3* database, int code) {
    const char* message = database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(code);
    throw SQLiteError(code, message);
}

void check(sqlite3* database, int code) {
    if (code != SQLITE_OK) {
        fail(database, code);
    }
}

} // namespace

SQLiteError::SQLiteError(int code, const std::string& message)
    : std::runtime_error(message)
    , code_(code & 0xFF) {}

bool SQLiteError::corrupt() const noexcept {
    return code_ == SQLITE_CORRUPT || code_ == SQLITE_NOTADB;
}

bool SQLiteError::busy() const noexcept {
    return code_ == SQLITE_BUSY;
}

SQLiteStatement::SQLiteStatement(sqlite3* database, std::string_view sql)
    : database_(database) {
    check(database_, sqlite3_prepare_v3(database_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                        &statement_, nullptr));
}

SQLiteStatement::~SQLiteStatement() {
    sqlite3_finalize(statement_);
}

void SQLiteStatement::restart() {
    if (started_) {
        sqlite3_reset(statement_);
        started_ = false;
    }
}

SQLiteStatement& SQLiteStatement::bind(int index, std::int64_t value) {
    restart();
    check(database_, sqlite3_bind_int64(statement_, index, value));
    return *this;
}

SQLiteStatement& SQLiteStatement::bind(int index, std::optional<std::int64_t> value) {
    if (value) {
        return bind(index, *value);
    }
    restart();
    check(database_, sqlite3_bind_null(statement_, index));
    return *this;
}

SQLiteStatement& SQLiteStatement::bind(int index, std::string_view value) {
    restart();
    check(database_, sqlite3_bind_text64(statement_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

bool SQLiteStatement::step() {
    started_ = true;
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) {
        return true;
    }
    if (code == SQLITE_DONE) {
        return false;
    }
    // The statement must be reset before its connection reports the error of the step.
    sqlite3_reset(statement_);
    started_ = false;
    fail(database_, code);
}

void SQLiteStatement::run() {
    while (step()) {
    }
    restart();
}

std::optional<std::int64_t> SQLiteStatement::scalar() {
    std::optional<std::int64_t> value;
    if (step()) {
        value = optionalInteger(0);
    }
    restart();
    return value;
}

bool SQLiteStatement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::int64_t SQLiteStatement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::optional<std::int64_t> SQLiteStatement::optionalInteger(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return integer(column);
}

std::string SQLiteStatement::text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    return bytes == nullptr ? std::string()
                            : std::string(reinterpret_cast<const char*>(bytes),
                                          static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

SQLiteDatabase::SQLiteDatabase(const std::filesystem::path& file, int busyTimeoutMs) {
    // One thread at a time uses a connection, so SQLite need not lock it on every call.
    const int code = sqlite3_open_v2(file.c_str(), &database_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        const std::string message = database_ != nullptr ? sqlite3_errmsg(database_) : sqlite3_errstr(code);
        sqlite3_close(database_);
        throw SQLiteError(code, message);
    }
    sqlite3_extended_result_codes(database_, 0);
    sqlite3_busy_timeout(database_, busyTimeoutMs);
}

SQLiteDatabase::~SQLiteDatabase() {
    sqlite3_close_v2(database_);
}

void SQLiteDatabase::execute(std::string_view sql) {
    const std::string text(sql);
    check(database_, sqlite3_exec(database_, text.c_str(), nullptr, nullptr, nullptr));
}

std::int64_t SQLiteDatabase::changes() const {
    return sqlite3_changes64(database_);
}

SQLiteTransaction::SQLiteTransaction(SQLiteDatabase& database, Kind kind)
    : database_(database) {
    database_.execute(kind == Kind::write ? "BEGIN IMMEDIATE" : "BEGIN");
}

SQLiteTransaction::~SQLiteTransaction() {
    if (open_) {
        sqlite3_exec(database_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void SQLiteTransaction::commit() {
    database_.execute("COMMIT");
    open_ = false;
}

} // namespace quelmar
