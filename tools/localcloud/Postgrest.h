#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace localcloud {

// An error answered in the REST interface's own shape.
struct PostgrestError : std::runtime_error {
    PostgrestError(int status, std::string code, const std::string &message, nlohmann::json details = nullptr,
        nlohmann::json hint = nullptr)
        : std::runtime_error(message)
        , status(status)
        , code(std::move(code))
        , details(std::move(details))
        , hint(std::move(hint))
    {
    }
    nlohmann::json body() const;

    int status;
    std::string code;
    nlohmann::json details;
    nlohmann::json hint;
};

// The columns of transfer_items as the REST interface shows them.
const std::vector<std::string> &transferItemColumns();

struct Filter {
    enum class Op { Eq, Neq, In, IsNull, IsNotNull };
    std::string column;
    Op op = Op::Eq;
    std::vector<std::string> values;
};

struct OrderTerm {
    std::string column;
    bool ascending = true;
};

struct RowQuery {
    std::vector<std::string> select; // empty: every column
    std::vector<Filter> filters;
    std::vector<OrderTerm> order;
    std::optional<std::int64_t> limit;
    std::int64_t offset = 0;
};

// Reads select=, order=, limit=, offset= and column filters such as computer_id=eq.<uuid>.
// Throws PostgrestError for what the real interface refuses (unknown columns, operators,
// malformed values). Values of uuid columns are checked the way Postgres casts them.
RowQuery parseRowQuery(const httplib::Params &params);

} // namespace localcloud
