#include "Postgrest.h"

#include "Crypto.h"

#include <algorithm>
#include <charconv>

namespace localcloud {

namespace {

bool isUuidColumn(const std::string &column)
{
    return column == "id" || column == "computer_id" || column == "user_id";
}

const std::string &knownColumn(const std::string &column)
{
    const auto &columns = transferItemColumns();
    const auto it = std::find(columns.begin(), columns.end(), column);
    if (it == columns.end())
        throw PostgrestError(400, "42703", "column transfer_items." + column + " does not exist");
    return *it;
}

std::string trim(std::string text)
{
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
    text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
    return text;
}

std::vector<std::string> splitComma(const std::string &text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        parts.push_back(trim(text.substr(start, comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return parts;
}

void checkValue(const std::string &column, const std::string &value)
{
    if (isUuidColumn(column) && !isUuid(value))
        throw PostgrestError(400, "22P02", "invalid input syntax for type uuid: \"" + value + "\"");
}

Filter parseFilter(const std::string &column, const std::string &expression)
{
    Filter filter;
    filter.column = knownColumn(column);
    const size_t dot = expression.find('.');
    const std::string op = expression.substr(0, dot);
    const std::string value = dot == std::string::npos ? std::string() : expression.substr(dot + 1);
    const auto parseError = [&] {
        return PostgrestError(400, "PGRST100",
            "\"failed to parse filter (" + expression + ")\" (line 1, column 1)",
            "unexpected \"" + expression + "\" expecting an operator");
    };
    if (dot == std::string::npos)
        throw parseError();
    if (op == "eq" || op == "neq") {
        filter.op = op == "eq" ? Filter::Op::Eq : Filter::Op::Neq;
        checkValue(filter.column, value);
        filter.values.push_back(value);
    } else if (op == "in") {
        if (value.size() < 2 || value.front() != '(' || value.back() != ')')
            throw parseError();
        filter.op = Filter::Op::In;
        for (std::string item : splitComma(value.substr(1, value.size() - 2))) {
            if (item.size() >= 2 && item.front() == '"' && item.back() == '"')
                item = item.substr(1, item.size() - 2);
            checkValue(filter.column, item);
            filter.values.push_back(item);
        }
    } else if (op == "is" && value == "null") {
        filter.op = Filter::Op::IsNull;
    } else if (op == "not" && value == "is.null") {
        filter.op = Filter::Op::IsNotNull;
    } else {
        throw parseError();
    }
    return filter;
}

std::int64_t parseCount(const std::string &name, const std::string &value)
{
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size() || n < 0)
        throw PostgrestError(400, "PGRST100", "\"failed to parse " + name + " parameter (" + value + ")\"");
    return n;
}

} // namespace

nlohmann::json PostgrestError::body() const
{
    return {{"code", code}, {"details", details}, {"hint", hint}, {"message", what()}};
}

const std::vector<std::string> &transferItemColumns()
{
    static const std::vector<std::string> columns{"id", "computer_id", "user_id", "storage_path",
        "original_filename", "status", "created_at", "completed_at", "downloaded_filename"};
    return columns;
}

RowQuery parseRowQuery(const httplib::Params &params)
{
    RowQuery query;
    for (const auto &[key, value] : params) {
        if (key == "select") {
            for (const std::string &column : splitComma(value)) {
                if (column == "*") {
                    query.select.clear();
                    break;
                }
                query.select.push_back(knownColumn(column));
            }
        } else if (key == "order") {
            for (const std::string &term : splitComma(value)) {
                const size_t dot = term.find('.');
                OrderTerm order{knownColumn(term.substr(0, dot)), true};
                const std::string direction = dot == std::string::npos ? "" : term.substr(dot + 1);
                if (direction == "desc" || direction.rfind("desc.", 0) == 0)
                    order.ascending = false;
                else if (!direction.empty() && direction != "asc" && direction.rfind("asc.", 0) != 0)
                    throw PostgrestError(400, "PGRST100", "\"failed to parse order (" + value + ")\"");
                query.order.push_back(order);
            }
        } else if (key == "limit") {
            query.limit = parseCount("limit", value);
        } else if (key == "offset") {
            query.offset = parseCount("offset", value);
        } else if (key == "apikey" || key == "columns" || key == "on_conflict") {
            // Not filters: handled elsewhere or without meaning here.
        } else {
            query.filters.push_back(parseFilter(key, value));
        }
    }
    return query;
}

} // namespace localcloud
