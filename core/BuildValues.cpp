#include "core/BuildValues.h"

#include "CompiledInValues.h"

#include <QUrl>

BuildValues BuildValues::compiledIn()
{
    return BuildValues{
        QStringLiteral(TARVOLIN_SUPABASE_URL),
        QStringLiteral(TARVOLIN_SUPABASE_ANON_KEY),
        QStringLiteral(TARVOLIN_SITE_ORIGIN),
        QStringLiteral(TARVOLIN_STORE_LINK),
        QStringLiteral(TARVOLIN_VERSION),
    };
}

QString BuildValues::siteDomain() const
{
    return QUrl(siteOrigin).host();
}
