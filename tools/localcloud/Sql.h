#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace localcloud {

class SqlError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One prepared statement; binding is by 1-based index as in SQLite.
class Statement
{
public:
    Statement(sqlite3 *db, std::string_view sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, std::string_view text);
    Statement &bind(int index, const char *text) { return bind(index, std::string_view(text)); }
    Statement &bind(int index, const std::string &text) { return bind(index, std::string_view(text)); }
    Statement &bind(int index, std::int64_t value);
    Statement &bind(int index, const std::optional<std::string> &text);

    // True while a row is available.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::string text(int column) const;
    std::optional<std::string> optionalText(int column) const;
    std::int64_t integer(int column) const;

private:
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

class Database
{
public:
    explicit Database(const std::string &path);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    void exec(const std::string &sql);
    Statement prepare(std::string_view sql) { return Statement(db_, sql); }
    int changes() const { return sqlite3_changes(db_); }

private:
    sqlite3 *db_ = nullptr;
};

// Rolls back unless commit() was reached, so an exception never leaves half a change.
class Transaction
{
public:
    explicit Transaction(Database &db);
    ~Transaction();
    void commit();

private:
    Database &db_;
    bool done_ = false;
};

} // namespace localcloud
