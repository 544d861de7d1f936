#pragma once

#include <QString>

// Deployment values fixed when the program is built (see the README's build variables). An empty
// backend address or key makes the program ask the user for the cloud settings.
struct BuildValues {
    QString supabaseURL; // production backend address, https, no trailing slash
    QString anonKey; // production publishable key
    QString siteOrigin; // product web site, e.g. "https://example.org" (no trailing slash)
    QString storeLink; // the program's page in the store, for store-installed builds
    QString version; // the project's version, as the build system knows it

    // The values compiled into this build.
    static BuildValues compiledIn();
    // The bare domain name of the product web site ("example.org"), for the version line.
    QString siteDomain() const;
};
