#include "core/CompanionError.h"

#include "platform/PlatformError.h"

namespace {

QString fixedMessage(CompanionError::Kind kind, const QString &serverText)
{
    switch (kind) {
    case CompanionError::Kind::Server:
        return serverText;
    case CompanionError::Kind::MissingConfiguration:
        return QStringLiteral("Bulut bağlantı bilgileri eksik.");
    case CompanionError::Kind::TargetFolderPermissionRequired:
        return QStringLiteral("Evrakların kaydedileceği klasörü seçmeniz gerekiyor.");
    case CompanionError::Kind::InvalidURL:
        return QStringLiteral("Bulut adresi geçerli değil.");
    case CompanionError::Kind::InvalidResponse:
        return QStringLiteral("Sunucudan geçersiz yanıt alındı.");
    }
    return serverText;
}

} // namespace

CompanionError::CompanionError(Kind kind, const QString &serverText)
    : m_kind(kind)
    , m_message(fixedMessage(kind, serverText))
    , m_utf8(m_message.toUtf8())
{
}

QString errorMessage(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const CompanionError *>(&error))
        return own->message();
    if (const auto *platform = dynamic_cast<const PlatformError *>(&error))
        return platform->description();
    return QString::fromUtf8(error.what());
}
