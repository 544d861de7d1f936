#pragma once

#include "Postgrest.h"
#include "Sql.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace localcloud {

struct ComputerRecord {
    std::string id;
    std::string userId;
    std::string name;
    std::string targetFolderName;
    std::optional<std::string> phoneUserId;
};

struct TransferRow {
    std::string id;
    std::string computerId;
    std::string userId; // the phone user who sent it
    std::string storagePath;
    std::string originalFilename;
    std::string status;
    std::string createdAt;
    std::optional<std::string> completedAt;
    std::optional<std::string> downloadedFilename;

    // The row as the REST interface shows it; `select` empty means every column.
    nlohmann::ordered_json toJson(const std::vector<std::string> &select = {}) const;
};

struct ObjectRecord {
    std::string name; // canonical key inside the bucket
    std::string file; // file name in the bucket folder
    std::string mimetype;
    std::string owner;
    std::int64_t size = 0;
    std::string createdAt;
};

// Object keys are compared in one canonical form: empty segments dropped, as the storage
// clients do before uploading, so "/a//b" and "a/b" name the same object.
std::string canonicalObjectKey(const std::string &path);
// True when a segment of the key is "." or "..": such a key could leave the bucket folder.
bool keyLeavesBucket(const std::string &canonicalKey);

// All persistent state but the object bytes. Every method is safe to call from any thread.
class Store
{
public:
    explicit Store(const std::filesystem::path &databasePath);

    // A stored setting, made by `create` the first time it is asked for.
    std::string setting(const std::string &key, const std::function<std::string()> &create);

    std::string createUser(const std::string &kind, std::int64_t nowMicros);
    bool userExists(const std::string &id);

    void addRefreshToken(const std::string &token, const std::string &userId, const std::string &sessionId,
        std::int64_t nowMicros);
    enum class Refresh { Rotated, NotFound, AlreadyUsed };
    struct Rotation {
        Refresh result = Refresh::NotFound;
        std::string userId;
        std::string sessionId;
    };
    // Replaces `token` by `replacement`. Reusing a spent token revokes its whole session.
    Rotation rotateRefreshToken(
        const std::string &token, const std::string &replacement, std::int64_t nowMicros);

    // One computer per user: found again on each call, its names updated.
    ComputerRecord registerComputer(const std::string &userId, const std::string &name,
        const std::string &targetFolderName, std::int64_t nowMicros);
    std::optional<ComputerRecord> computer(const std::string &id);
    std::vector<ComputerRecord> computers();

    void addPairingCode(const std::string &code, const std::string &computerId, std::int64_t expiresMicros,
        std::int64_t nowMicros);
    enum class Claim { Claimed, NotFound, Expired, AlreadyClaimed };
    struct ClaimResult {
        Claim result = Claim::NotFound;
        std::optional<ComputerRecord> computer;
    };
    // Links the computer to its phone user (made when the computer has none yet).
    ClaimResult claimPairingCode(const std::string &code, std::int64_t nowMicros);
    // The computer a code was issued for, whether claimed or not.
    std::optional<ComputerRecord> computerForCode(const std::string &code);
    struct PairingCodeRecord {
        std::string code;
        std::string computerId;
        std::int64_t createdMicros = 0;
        std::int64_t expiresMicros = 0;
        bool claimed = false;
    };
    std::vector<PairingCodeRecord> pairingCodes(); // newest first
    // The phone user of a computer, made when needed.
    std::string phoneUserFor(const std::string &computerId, std::int64_t nowMicros);

    void addRow(const TransferRow &row, std::int64_t createdMicros);
    std::vector<TransferRow> rowsFor(const std::string &userId, const RowQuery &query);
    std::vector<TransferRow> updateRowsFor(const std::string &userId, const std::vector<Filter> &filters,
        const std::map<std::string, std::optional<std::string>> &changes);
    std::vector<TransferRow> allRows();

    // Returns the file of the object it replaced, if any.
    std::optional<std::string> putObject(const ObjectRecord &object);
    std::optional<ObjectRecord> object(const std::string &key);
    // A user sees an object it owns or one named by a row of one of its computers.
    bool objectVisibleTo(const std::string &userId, const std::string &key);
    std::optional<ObjectRecord> removeObject(const std::string &key);
    std::vector<ObjectRecord> allObjects();

private:
    // The phone-side user that sends documents to the computer; called inside a transaction.
    std::string createPhoneUser(const std::string &computerId, std::int64_t nowMicros);
    std::vector<TransferRow> selectRows(
        const std::string &where, const std::vector<std::string> &arguments, const std::string &tail);

    std::mutex mutex_;
    Database db_;
};

} // namespace localcloud
