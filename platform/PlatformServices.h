#pragma once

#include "platform/ApplicationHost.h"
#include "platform/Clock.h"
#include "platform/FolderBookmarks.h"
#include "platform/FolderChooser.h"
#include "platform/HttpClient.h"
#include "platform/LoginItem.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "platform/SettingsStore.h"
#include "platform/WakeEvents.h"
#include "platform/Workspace.h"

// The operating-system services the model uses, handed over at construction. The entry point passes
// the real ones; tests pass fakes. Every reference must outlive the model.
struct PlatformServices {
    SettingsStore &settings;
    SecretStore &secrets;
    Clock &clock;
    LoginItem &loginItem;
    HttpClient &http;
    FolderChooser &folderChooser;
    FolderBookmarks &bookmarks;
    Workspace &workspace;
    ApplicationHost &application;
    Notifier &notifier;
    WakeEvents &wake;
};
