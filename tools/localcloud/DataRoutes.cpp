// The REST table and the pairing function: the two data interfaces that act for a signed-in user.
#include "Server.h"

namespace localcloud {

namespace {

constexpr const char *jsonType = "application/json; charset=utf-8";
constexpr std::int64_t pairingCodeLifetimeMicros = 10 * 60 * 1000000LL;

std::string dumpText(const nlohmann::ordered_json &json)
{
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// Checks one column of a PATCH body the way Postgres would cast and constrain it.
std::optional<std::string> columnValue(const std::string &column, const nlohmann::json &value)
{
    if (column == "status") {
        if (value.is_null())
            throw PostgrestError(400, "23502",
                "null value in column \"status\" of relation \"transfer_items\" violates not-null "
                "constraint");
        if (!value.is_string() || (value != "pending" && value != "downloaded"))
            throw PostgrestError(400, "23514",
                "new row for relation \"transfer_items\" violates check constraint "
                "\"transfer_items_status_check\"");
        return value.get<std::string>();
    }
    if (value.is_null())
        return std::nullopt;
    if (column == "completed_at") {
        const auto micros = value.is_string() ? parseTimestamp(value.get<std::string>()) : std::nullopt;
        if (!micros)
            throw PostgrestError(
                400, "22007", "invalid input syntax for type timestamp with time zone: " + value.dump());
        return formatTimestamptz(*micros);
    }
    if (!value.is_string())
        throw PostgrestError(400, "22P02", "invalid input syntax for type text: " + value.dump());
    return value.get<std::string>();
}

} // namespace

void Server::handleRest(const httplib::Request &req, httplib::Response &res)
{
    const std::string table = req.path.size() > 9 ? req.path.substr(9) : std::string();
    if (table != "transfer_items")
        throw PostgrestError(404, "PGRST205",
            "Could not find the table 'public." + table + "' in the schema cache", nullptr,
            "Perhaps you meant the table 'public.transfer_items'");
    const std::string userId = requireUser(req, Family::Rest);
    const RowQuery query = parseRowQuery(req.params);

    if (req.method == "GET") {
        const std::vector<TransferRow> rows = store_->rowsFor(userId, query);
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const TransferRow &row : rows)
            out.push_back(row.toJson(query.select));
        res.status = 200;
        res.set_header("Content-Range",
            rows.empty()
                ? "*/*"
                : std::to_string(query.offset) + "-" + std::to_string(query.offset + rows.size() - 1) + "/*");
        res.set_content(dumpText(out), jsonType);
        return;
    }
    if (req.method == "PATCH") {
        const auto body = parseJsonBody(req.body);
        if (!body || !body->is_object())
            throw PostgrestError(400, "PGRST102", "Empty or invalid json");
        // As on the hosted project, an update must name the rows it changes.
        if (query.filters.empty())
            throw PostgrestError(400, "21000", "UPDATE requires a WHERE clause");
        const auto &columns = transferItemColumns();
        std::map<std::string, std::optional<std::string>> changes;
        for (const auto &[column, value] : body->items()) {
            if (std::find(columns.begin(), columns.end(), column) == columns.end())
                throw PostgrestError(400, "PGRST204",
                    "Could not find the '" + column + "' column of 'transfer_items' in the schema cache");
            if (column != "status" && column != "completed_at" && column != "downloaded_filename")
                throw PostgrestError(403, "42501", "permission denied for table transfer_items");
            changes[column] = columnValue(column, value);
        }
        const std::vector<TransferRow> rows = store_->updateRowsFor(userId, query.filters, changes);
        checkAcknowledgements(rows);
        if (req.get_header_value("Prefer").find("return=representation") != std::string::npos) {
            nlohmann::ordered_json out = nlohmann::ordered_json::array();
            for (const TransferRow &row : rows)
                out.push_back(row.toJson(query.select));
            res.status = 200;
            res.set_content(dumpText(out), jsonType);
        } else {
            res.status = 204;
        }
        return;
    }
    if (req.method == "POST")
        throw PostgrestError(
            403, "42501", "new row violates row-level security policy for table \"transfer_items\"");
    if (req.method == "DELETE")
        throw PostgrestError(403, "42501", "permission denied for table transfer_items");
    throw PostgrestError(405, "PGRST117", "Unsupported HTTP method: " + req.method);
}

void Server::handleFunctions(const httplib::Request &req, httplib::Response &res)
{
    if (req.path != "/functions/v1/create-pairing")
        throw HttpError{404, {{"code", "NOT_FOUND"}, {"message", "Requested function was not found"}}};
    const std::string userId = requireUser(req, Family::Functions);
    if (req.method != "POST")
        throw HttpError{405, {{"error", "Method not allowed"}}};
    const auto body = parseJsonBody(req.body);
    if (!body || !body->is_object())
        throw HttpError{400, {{"error", "The request body must be a JSON object"}}};
    const auto name = body->find("computerName");
    const auto folder = body->find("targetFolderName");
    if (name == body->end() || folder == body->end() || !name->is_string() || !folder->is_string())
        throw HttpError{400, {{"error", "computerName and targetFolderName must be strings"}}};
    if (name->get<std::string>().size() > 200 || folder->get<std::string>().size() > 255)
        throw HttpError{400, {{"error", "computerName or targetFolderName is too long"}}};

    const std::int64_t now = clock_.nowMicros();
    const ComputerRecord computer
        = store_->registerComputer(userId, name->get<std::string>(), folder->get<std::string>(), now);
    // No 0/O or 1/I: the code is read off a screen and typed on a phone when scanning fails.
    const std::string code = randomText(8, "ABCDEFGHJKLMNPQRSTUVWXYZ23456789");
    const std::int64_t expires = now + pairingCodeLifetimeMicros;
    store_->addPairingCode(code, computer.id, expires, now);

    nlohmann::ordered_json out;
    out["computerId"] = computer.id;
    out["computerName"] = computer.name;
    out["code"] = code;
    out["expiresAt"] = formatIsoMillis(expires);
    out["qrText"] = "tarvolin://pair?code=" + code;
    res.status = 200;
    res.set_content(dumpText(out), jsonType);
}

} // namespace localcloud
