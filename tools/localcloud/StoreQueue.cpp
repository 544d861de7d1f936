// The queue side of the store: transfer_items rows and the objects they name.
#include "Store.h"

namespace localcloud {

namespace {

constexpr const char *rowColumns
    = "t.id, t.computer_id, t.user_id, t.storage_path, t.original_filename, t.status, "
      "t.created_at, t.completed_at, t.downloaded_filename";

TransferRow readRow(const Statement &s)
{
    return TransferRow{s.text(0), s.text(1), s.text(2), s.text(3), s.text(4), s.text(5), s.text(6),
        s.optionalText(7), s.optionalText(8)};
}

ObjectRecord readObject(const Statement &s)
{
    return ObjectRecord{s.text(0), s.text(1), s.text(2), s.text(3), s.integer(4), s.text(5)};
}

// Column names reach SQL only after parseRowQuery matched them against the fixed list.
std::string filterSql(const Filter &filter, std::vector<std::string> &arguments)
{
    const std::string column = "t." + filter.column;
    switch (filter.op) {
    case Filter::Op::Eq:
        arguments.push_back(filter.values.front());
        return column + " = ?";
    case Filter::Op::Neq:
        arguments.push_back(filter.values.front());
        return column + " <> ?";
    case Filter::Op::In: {
        if (filter.values.empty())
            return "0";
        std::string sql = column + " IN (";
        for (size_t i = 0; i < filter.values.size(); ++i) {
            sql += i ? ",?" : "?";
            arguments.push_back(filter.values[i]);
        }
        return sql + ")";
    }
    case Filter::Op::IsNull:
        return column + " IS NULL";
    case Filter::Op::IsNotNull:
        return column + " IS NOT NULL";
    }
    return "0";
}

std::string ownRowsWhere(const std::vector<Filter> &filters, std::vector<std::string> &arguments)
{
    std::string where = "t.computer_id IN (SELECT id FROM computers WHERE user_id = ?)";
    for (const Filter &filter : filters)
        where += " AND " + filterSql(filter, arguments);
    return where;
}

} // namespace

nlohmann::ordered_json TransferRow::toJson(const std::vector<std::string> &select) const
{
    const auto optional = [](const std::optional<std::string> &v) -> nlohmann::json {
        return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
    };
    const auto value = [&](const std::string &column) -> nlohmann::json {
        if (column == "id")
            return id;
        if (column == "computer_id")
            return computerId;
        if (column == "user_id")
            return userId;
        if (column == "storage_path")
            return storagePath;
        if (column == "original_filename")
            return originalFilename;
        if (column == "status")
            return status;
        if (column == "created_at")
            return createdAt;
        if (column == "completed_at")
            return optional(completedAt);
        return optional(downloadedFilename);
    };
    // Columns come in the order they were asked for, as the real interface gives them.
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (const std::string &column : select.empty() ? transferItemColumns() : select)
        out[column] = value(column);
    return out;
}

std::string canonicalObjectKey(const std::string &path)
{
    std::string key;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start) {
            if (!key.empty())
                key += '/';
            key.append(path, start, slash - start);
        }
        start = slash + 1;
    }
    return key;
}

bool keyLeavesBucket(const std::string &canonicalKey)
{
    size_t start = 0;
    while (start <= canonicalKey.size()) {
        size_t slash = canonicalKey.find('/', start);
        if (slash == std::string::npos)
            slash = canonicalKey.size();
        const std::string_view segment(canonicalKey.data() + start, slash - start);
        if (segment == "." || segment == "..")
            return true;
        start = slash + 1;
    }
    return false;
}

void Store::addRow(const TransferRow &row, std::int64_t createdMicros)
{
    std::lock_guard lock(mutex_);
    db_.prepare("INSERT INTO transfer_items (id, computer_id, user_id, storage_path, object_key, "
                "original_filename, "
                "status, created_at, created_us, completed_at, downloaded_filename) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(1, row.id)
        .bind(2, row.computerId)
        .bind(3, row.userId)
        .bind(4, row.storagePath)
        .bind(5, canonicalObjectKey(row.storagePath))
        .bind(6, row.originalFilename)
        .bind(7, row.status)
        .bind(8, row.createdAt)
        .bind(9, createdMicros)
        .bind(10, row.completedAt)
        .bind(11, row.downloadedFilename)
        .run();
}

std::vector<TransferRow> Store::selectRows(
    const std::string &where, const std::vector<std::string> &arguments, const std::string &tail)
{
    auto s = db_.prepare(
        std::string("SELECT ") + rowColumns + " FROM transfer_items t WHERE " + where + " " + tail);
    for (size_t i = 0; i < arguments.size(); ++i)
        s.bind(static_cast<int>(i + 1), arguments[i]);
    std::vector<TransferRow> rows;
    while (s.step())
        rows.push_back(readRow(s));
    return rows;
}

std::vector<TransferRow> Store::rowsFor(const std::string &userId, const RowQuery &query)
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> arguments{userId};
    const std::string where = ownRowsWhere(query.filters, arguments);
    std::string tail = "ORDER BY ";
    for (const OrderTerm &term : query.order) {
        const std::string column = term.column == "created_at" ? "t.created_us" : "t." + term.column;
        tail += column + (term.ascending ? " ASC, " : " DESC, ");
    }
    tail += "t.seq ASC";
    // The real project caps every answer at 1000 rows whatever the limit asked for.
    const std::int64_t limit = std::min<std::int64_t>(query.limit.value_or(1000), 1000);
    tail += " LIMIT " + std::to_string(limit) + " OFFSET " + std::to_string(query.offset);
    return selectRows(where, arguments, tail);
}

std::vector<TransferRow> Store::updateRowsFor(const std::string &userId, const std::vector<Filter> &filters,
    const std::map<std::string, std::optional<std::string>> &changes)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    std::vector<std::string> arguments{userId};
    const std::string where = ownRowsWhere(filters, arguments);
    std::vector<TransferRow> rows = selectRows(where, arguments, "ORDER BY t.seq");
    for (TransferRow &row : rows) {
        for (const auto &[column, value] : changes) {
            if (column == "status")
                row.status = value.value_or("");
            else if (column == "completed_at")
                row.completedAt = value;
            else if (column == "downloaded_filename")
                row.downloadedFilename = value;
        }
        db_.prepare(
               "UPDATE transfer_items SET status = ?, completed_at = ?, downloaded_filename = ? WHERE id = ?")
            .bind(1, row.status)
            .bind(2, row.completedAt)
            .bind(3, row.downloadedFilename)
            .bind(4, row.id)
            .run();
    }
    transaction.commit();
    return rows;
}

std::vector<TransferRow> Store::allRows()
{
    std::lock_guard lock(mutex_);
    return selectRows("1", {}, "ORDER BY t.created_us, t.seq");
}

std::optional<std::string> Store::putObject(const ObjectRecord &object)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    std::optional<std::string> previous;
    {
        auto s = db_.prepare("SELECT file FROM objects WHERE name = ?");
        s.bind(1, object.name);
        if (s.step())
            previous = s.text(0);
    }
    db_.prepare("INSERT OR REPLACE INTO objects (name, file, mimetype, owner, size, created_at) VALUES (?, "
                "?, ?, ?, ?, ?)")
        .bind(1, object.name)
        .bind(2, object.file)
        .bind(3, object.mimetype)
        .bind(4, object.owner)
        .bind(5, object.size)
        .bind(6, object.createdAt)
        .run();
    transaction.commit();
    return previous;
}

std::optional<ObjectRecord> Store::object(const std::string &key)
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT name, file, mimetype, owner, size, created_at FROM objects WHERE name = ?");
    s.bind(1, key);
    if (!s.step())
        return std::nullopt;
    return readObject(s);
}

bool Store::objectVisibleTo(const std::string &userId, const std::string &key)
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT 1 FROM objects o WHERE o.name = ? AND (o.owner = ? OR EXISTS ("
                         "SELECT 1 FROM transfer_items t JOIN computers c ON c.id = t.computer_id "
                         "WHERE t.object_key = o.name AND c.user_id = ?))");
    s.bind(1, key).bind(2, userId).bind(3, userId);
    return s.step();
}

std::optional<ObjectRecord> Store::removeObject(const std::string &key)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    auto s = db_.prepare("SELECT name, file, mimetype, owner, size, created_at FROM objects WHERE name = ?");
    s.bind(1, key);
    if (!s.step())
        return std::nullopt;
    ObjectRecord record = readObject(s);
    db_.prepare("DELETE FROM objects WHERE name = ?").bind(1, key).run();
    transaction.commit();
    return record;
}

std::vector<ObjectRecord> Store::allObjects()
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT name, file, mimetype, owner, size, created_at FROM objects ORDER BY name");
    std::vector<ObjectRecord> out;
    while (s.step())
        out.push_back(readObject(s));
    return out;
}

} // namespace localcloud
