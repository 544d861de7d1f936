#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A key of the settings store together with the one type it is stored as. Reading a key that is
// absent, or that holds a value of another type, gives the type's absent value: false, 0, empty
// text, no bytes, the distant past. A Boolean key may name another absent value.
template <typename T> struct SettingKey {
    const char *name;
};

template <> struct SettingKey<bool> {
    const char *name;
    bool absent = false;
};

// Every key the program stores. Nothing else spells these names.
namespace SettingKeys {

// The user's own backend settings, and whether they take precedence over the official ones.
inline constexpr SettingKey<bool> manualCloudConfigurationEnabled{"manualCloudConfigurationEnabled"};
inline constexpr SettingKey<QString> supabaseURL{"supabaseURL"};
inline constexpr SettingKey<QString> supabaseAnonKey{"supabaseAnonKey"};

// The values of the last official configuration document applied, for starts when it is out of reach.
inline constexpr SettingKey<QString> cachedOfficialSupabaseURL{"cachedOfficialSupabaseURL"};
inline constexpr SettingKey<QString> cachedOfficialSupabaseAnonKey{"cachedOfficialSupabaseAnonKey"};
// Written for the record; nothing reads it back.
inline constexpr SettingKey<qint64> officialCloudConfigurationRevision{"officialCloudConfigurationRevision"};

// The remembered target folder. "targetFolder" and "targetFolderConfirmed" are written for the record
// and never read back; the bookmark alone restores the folder.
inline constexpr SettingKey<QByteArray> targetFolderBookmark{"targetFolderBookmark"};
inline constexpr SettingKey<QString> targetFolder{"targetFolder"};
inline constexpr SettingKey<bool> targetFolderConfirmed{"targetFolderConfirmed"};

// Set once the first launch registered the login item, so that a later "off" is respected.
inline constexpr SettingKey<bool> startupChoiceInitialized{"startupChoiceInitialized"};
// Whether a notification tells of documents that arrived; on until the user turns it off.
inline constexpr SettingKey<bool> notificationsEnabled{"notificationsEnabled", true};
// Cloud copies whose removal failed after their row was marked downloaded, removed again by later
// passes: a JSON array of {"backend": address, "path": storage path}, oldest first, at most 1000.
inline constexpr SettingKey<QByteArray> pendingCleanups{"pendingCleanups"};
// When the last update check began.
inline constexpr SettingKey<QDateTime> lastUpdateCheck{"lastUpdateCheck"};
// The version last handed to the swap or refused after its download, and when. Until a day has
// passed it is not tried again, unless this program now runs it.
inline constexpr SettingKey<QString> updateAttemptVersion{"updateAttemptVersion"};
inline constexpr SettingKey<QDateTime> updateAttemptTime{"updateAttemptTime"};

} // namespace SettingKeys
