#include "platform/linux/PortalColourScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colourSchemeKey = QStringLiteral("color-scheme");
// The start waits for this at most: a portal that is slow to start is not worth a late window.
constexpr int replyTimeoutMs = 500;

// The older Read wraps the value in one more variant than ReadOne.
QVariant unwrapped(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// 1 is dark, 2 light, 0 and anything else no preference.
std::optional<bool> fromScheme(const QVariant &value)
{
    bool ok = false;
    const uint scheme = unwrapped(value).toUInt(&ok);
    if (!ok || (scheme != 1 && scheme != 2))
        return std::nullopt;
    return scheme == 1;
}

std::optional<QVariant> read(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, settingsInterface, method);
    call << appearance << colourSchemeKey;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, replyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst();
}

} // namespace

PortalColourScheme::PortalColourScheme(QObject *parent)
    : QObject(parent)
{
    // QtDBus matches the slot's parameters by type name; unregistered, the connection is refused
    // without a word and a live switch of the desktop's look would never arrive.
    qRegisterMetaType<QDBusVariant>();
    if (!QDBusConnection::sessionBus().connect(service, path, settingsInterface,
            QStringLiteral("SettingChanged"), this, SLOT(settingChanged(QString, QString, QDBusVariant))))
        qWarning("The desktop's switches between light and dark cannot be followed.");
}

std::optional<bool> PortalColourScheme::prefersDark() const
{
    if (!QDBusConnection::sessionBus().isConnected())
        return std::nullopt;
    std::optional<QVariant> value = read(QStringLiteral("ReadOne"));
    if (!value)
        value = read(QStringLiteral("Read"));
    return value ? fromScheme(*value) : std::nullopt;
}

void PortalColourScheme::settingChanged(const QString &group, const QString &key, const QDBusVariant &value)
{
    if (group != appearance || key != colourSchemeKey)
        return;
    if (const std::optional<bool> dark = fromScheme(value.variant()))
        Q_EMIT changed(*dark);
}
