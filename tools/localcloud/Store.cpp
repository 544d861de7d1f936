#include "Store.h"

#include "Clock.h"
#include "Crypto.h"

namespace localcloud {

namespace {

ComputerRecord readComputer(const Statement &s)
{
    return ComputerRecord{s.text(0), s.text(1), s.text(2), s.text(3), s.optionalText(4)};
}

} // namespace

Store::Store(const std::filesystem::path &databasePath)
    : db_(databasePath.string())
{
    db_.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    db_.exec(R"sql(
CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS users (id TEXT PRIMARY KEY, kind TEXT NOT NULL, created_us INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS refresh_tokens (
    token TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), session_id TEXT NOT NULL,
    revoked INTEGER NOT NULL DEFAULT 0, created_us INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS refresh_tokens_session ON refresh_tokens(session_id);
CREATE TABLE IF NOT EXISTS computers (
    id TEXT PRIMARY KEY, user_id TEXT NOT NULL UNIQUE REFERENCES users(id), name TEXT NOT NULL,
    target_folder_name TEXT NOT NULL, phone_user_id TEXT REFERENCES users(id), created_us INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS pairing_codes (
    code TEXT PRIMARY KEY, computer_id TEXT NOT NULL REFERENCES computers(id), expires_us INTEGER NOT NULL,
    claimed_us INTEGER, created_us INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS transfer_items (
    seq INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE, computer_id TEXT NOT NULL,
    user_id TEXT NOT NULL, storage_path TEXT NOT NULL, object_key TEXT NOT NULL,
    original_filename TEXT NOT NULL, status TEXT NOT NULL, created_at TEXT NOT NULL, created_us INTEGER NOT NULL,
    completed_at TEXT, downloaded_filename TEXT);
CREATE INDEX IF NOT EXISTS transfer_items_queue ON transfer_items(computer_id, status, created_us, seq);
CREATE INDEX IF NOT EXISTS transfer_items_object ON transfer_items(object_key);
CREATE TABLE IF NOT EXISTS objects (
    name TEXT PRIMARY KEY, file TEXT NOT NULL, mimetype TEXT NOT NULL, owner TEXT NOT NULL,
    size INTEGER NOT NULL, created_at TEXT NOT NULL);
)sql");
}

std::string Store::setting(const std::string &key, const std::function<std::string()> &create)
{
    std::lock_guard lock(mutex_);
    auto select = db_.prepare("SELECT value FROM settings WHERE key = ?");
    select.bind(1, key);
    if (select.step())
        return select.text(0);
    const std::string value = create();
    db_.prepare("INSERT INTO settings (key, value) VALUES (?, ?)").bind(1, key).bind(2, value).run();
    return value;
}

std::string Store::createUser(const std::string &kind, std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    const std::string id = newUuid();
    db_.prepare("INSERT INTO users (id, kind, created_us) VALUES (?, ?, ?)")
        .bind(1, id)
        .bind(2, kind)
        .bind(3, nowMicros)
        .run();
    return id;
}

bool Store::userExists(const std::string &id)
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT 1 FROM users WHERE id = ?");
    s.bind(1, id);
    return s.step();
}

void Store::addRefreshToken(
    const std::string &token, const std::string &userId, const std::string &sessionId, std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    db_.prepare("INSERT INTO refresh_tokens (token, user_id, session_id, created_us) VALUES (?, ?, ?, ?)")
        .bind(1, token)
        .bind(2, userId)
        .bind(3, sessionId)
        .bind(4, nowMicros)
        .run();
}

Store::Rotation Store::rotateRefreshToken(
    const std::string &token, const std::string &replacement, std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Rotation rotation;
    {
        auto s = db_.prepare("SELECT user_id, session_id, revoked FROM refresh_tokens WHERE token = ?");
        s.bind(1, token);
        if (!s.step())
            return rotation;
        rotation.userId = s.text(0);
        rotation.sessionId = s.text(1);
        rotation.result = s.integer(2) ? Refresh::AlreadyUsed : Refresh::Rotated;
    }
    if (rotation.result == Refresh::AlreadyUsed) {
        // A spent token coming back means it leaked: the whole session goes.
        db_.prepare("UPDATE refresh_tokens SET revoked = 1 WHERE session_id = ?")
            .bind(1, rotation.sessionId)
            .run();
    } else {
        db_.prepare("UPDATE refresh_tokens SET revoked = 1 WHERE token = ?").bind(1, token).run();
        db_.prepare("INSERT INTO refresh_tokens (token, user_id, session_id, created_us) VALUES (?, ?, ?, ?)")
            .bind(1, replacement)
            .bind(2, rotation.userId)
            .bind(3, rotation.sessionId)
            .bind(4, nowMicros)
            .run();
    }
    transaction.commit();
    return rotation;
}

ComputerRecord Store::registerComputer(const std::string &userId, const std::string &name,
    const std::string &targetFolderName, std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    db_.prepare(
           "INSERT INTO computers (id, user_id, name, target_folder_name, created_us) VALUES (?, ?, ?, ?, ?) "
           "ON CONFLICT(user_id) DO UPDATE SET name = excluded.name, "
           "target_folder_name = excluded.target_folder_name")
        .bind(1, newUuid())
        .bind(2, userId)
        .bind(3, name)
        .bind(4, targetFolderName)
        .bind(5, nowMicros)
        .run();
    auto s = db_.prepare(
        "SELECT id, user_id, name, target_folder_name, phone_user_id FROM computers WHERE user_id = ?");
    s.bind(1, userId);
    s.step();
    ComputerRecord computer = readComputer(s);
    transaction.commit();
    return computer;
}

std::optional<ComputerRecord> Store::computer(const std::string &id)
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT id, user_id, name, target_folder_name, phone_user_id FROM computers WHERE id = ?");
    s.bind(1, id);
    if (!s.step())
        return std::nullopt;
    return readComputer(s);
}

std::vector<ComputerRecord> Store::computers()
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT id, user_id, name, target_folder_name, phone_user_id FROM computers ORDER BY created_us");
    std::vector<ComputerRecord> out;
    while (s.step())
        out.push_back(readComputer(s));
    return out;
}

void Store::addPairingCode(const std::string &code, const std::string &computerId, std::int64_t expiresMicros,
    std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    db_.prepare("INSERT INTO pairing_codes (code, computer_id, expires_us, created_us) VALUES (?, ?, ?, ?)")
        .bind(1, code)
        .bind(2, computerId)
        .bind(3, expiresMicros)
        .bind(4, nowMicros)
        .run();
}

Store::ClaimResult Store::claimPairingCode(const std::string &code, std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    ClaimResult result;
    std::string computerId;
    {
        auto s = db_.prepare("SELECT computer_id, expires_us, claimed_us FROM pairing_codes WHERE code = ?");
        s.bind(1, code);
        if (!s.step())
            return result;
        computerId = s.text(0);
        if (s.optionalText(2))
            result.result = Claim::AlreadyClaimed;
        else if (s.integer(1) <= nowMicros)
            result.result = Claim::Expired;
        else
            result.result = Claim::Claimed;
    }
    if (result.result != Claim::Claimed)
        return result;
    db_.prepare("UPDATE pairing_codes SET claimed_us = ? WHERE code = ?")
        .bind(1, nowMicros)
        .bind(2, code)
        .run();
    auto s = db_.prepare(
        "SELECT id, user_id, name, target_folder_name, phone_user_id FROM computers WHERE id = ?");
    s.bind(1, computerId);
    s.step();
    result.computer = readComputer(s);
    if (!result.computer->phoneUserId) {
        result.computer->phoneUserId = createPhoneUser(computerId, nowMicros);
    }
    transaction.commit();
    return result;
}

std::optional<ComputerRecord> Store::computerForCode(const std::string &code)
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT c.id, c.user_id, c.name, c.target_folder_name, c.phone_user_id FROM computers c "
        "JOIN pairing_codes p ON p.computer_id = c.id WHERE p.code = ?");
    s.bind(1, code);
    if (!s.step())
        return std::nullopt;
    return readComputer(s);
}

std::vector<Store::PairingCodeRecord> Store::pairingCodes()
{
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT code, computer_id, created_us, expires_us, claimed_us IS NOT NULL FROM pairing_codes "
        "ORDER BY created_us DESC, rowid DESC");
    std::vector<PairingCodeRecord> out;
    while (s.step())
        out.push_back(PairingCodeRecord{s.text(0), s.text(1), s.integer(2), s.integer(3), s.integer(4) != 0});
    return out;
}

std::string Store::phoneUserFor(const std::string &computerId, std::int64_t nowMicros)
{
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    auto s = db_.prepare("SELECT phone_user_id FROM computers WHERE id = ?");
    s.bind(1, computerId);
    if (s.step() && s.optionalText(0))
        return s.text(0);
    const std::string phoneUser = createPhoneUser(computerId, nowMicros);
    transaction.commit();
    return phoneUser;
}

std::string Store::createPhoneUser(const std::string &computerId, std::int64_t nowMicros)
{
    const std::string phoneUser = newUuid();
    db_.prepare("INSERT INTO users (id, kind, created_us) VALUES (?, 'phone', ?)")
        .bind(1, phoneUser)
        .bind(2, nowMicros)
        .run();
    db_.prepare("UPDATE computers SET phone_user_id = ? WHERE id = ?")
        .bind(1, phoneUser)
        .bind(2, computerId)
        .run();
    return phoneUser;
}

} // namespace localcloud
