#include "Sql.h"

namespace localcloud {

namespace {
[[noreturn]] void fail(sqlite3 *db, const char *what)
{
    throw SqlError(std::string(what) + ": " + sqlite3_errmsg(db));
}
} // namespace

Statement::Statement(sqlite3 *db, std::string_view sql)
    : db_(db)
{
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK)
        fail(db_, "prepare");
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

Statement &Statement::bind(int index, std::string_view text)
{
    // Explicit length: names may legitimately contain NUL characters.
    if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8)
        != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement &Statement::bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement &Statement::bind(int index, const std::optional<std::string> &text)
{
    if (text)
        return bind(index, std::string_view(*text));
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(db_, "step");
}

void Statement::run()
{
    while (step()) { }
}

std::string Statement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    if (!data)
        return {};
    return std::string(data, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::string> Statement::optionalText(int column) const
{
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL)
        return std::nullopt;
    return text(column);
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

Database::Database(const std::string &path)
{
    if (sqlite3_open_v2(
            path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
        != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw SqlError("open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
}

Database::~Database()
{
    sqlite3_close(db_);
}

void Database::exec(const std::string &sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw SqlError("exec: " + message);
    }
}

Transaction::Transaction(Database &db)
    : db_(db)
{
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (...) {
        }
    }
}

void Transaction::commit()
{
    db_.exec("COMMIT");
    done_ = true;
}

} // namespace localcloud
