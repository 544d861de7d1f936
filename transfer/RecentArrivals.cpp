#include "transfer/RecentArrivals.h"

#include "core/Json.h"
#include "transfer/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

// A thousand entries take some 150 KB; anything far larger is not a list this program wrote.
constexpr qint64 largestReadable = qint64(4) << 20;

const QString arrivalsKey = QStringLiteral("arrivals");
const QString pathKey = QStringLiteral("path");
const QString savedAtKey = QStringLiteral("savedAt");

std::optional<Arrival> arrivalFromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    const QString path = object.value(pathKey).toString();
    const QDateTime savedAt = QDateTime::fromString(object.value(savedAtKey).toString(), Qt::ISODateWithMs);
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || !savedAt.isValid())
        return std::nullopt;
    return Arrival{savedAt, QDir::cleanPath(path)};
}

} // namespace

QString Arrival::fileName() const
{
    return QFileInfo(path).fileName();
}

RecentArrivals::RecentArrivals(QString filePath, QObject *parent)
    : QObject(parent)
    , m_filePath(std::move(filePath))
{
    if (m_filePath.isEmpty())
        m_kept = false;
    else
        load();
}

void RecentArrivals::load()
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    std::optional<QJsonObject> object;
    if (file.size() <= largestReadable && file.open(QIODevice::ReadOnly))
        object = jsonObject(file.readAll());
    file.close();
    if (!object || !object->value(arrivalsKey).isArray()) {
        // Set aside, not overwritten: it may be another version's list, or worth a look.
        const QString aside = m_filePath + QStringLiteral(".unreadable");
        QFile::remove(aside);
        if (!QFile::rename(m_filePath, aside)) {
            m_filePath.clear();
            m_kept = false;
        }
        return;
    }
    // A damaged entry costs only itself.
    for (const QJsonValue value : object->value(arrivalsKey).toArray()) {
        if (m_arrivals.size() == capacity)
            break;
        if (const std::optional<Arrival> arrival = arrivalFromJson(value))
            m_arrivals.append(*arrival);
    }
}

void RecentArrivals::add(const Arrival &arrival)
{
    const Arrival cleaned{arrival.savedAt, QDir::cleanPath(arrival.path)};
    m_arrivals.removeIf([&](const Arrival &known) { return known.path == cleaned.path; });
    m_arrivals.prepend(cleaned);
    if (m_arrivals.size() > capacity)
        m_arrivals.resize(capacity);
    m_unsaved = true;
    Q_EMIT changed();
}

bool RecentArrivals::save()
{
    if (!m_unsaved)
        return m_kept;
    bool written = false;
    if (!m_filePath.isEmpty() && QDir().mkpath(QFileInfo(m_filePath).path())) {
        QJsonArray list;
        for (const Arrival &arrival : std::as_const(m_arrivals))
            list.append(QJsonObject{
                {pathKey, arrival.path}, {savedAtKey, arrival.savedAt.toUTC().toString(Qt::ISODateWithMs)}});
        QSaveFile file(m_filePath);
        written = file.open(QIODevice::WriteOnly) && file.write(compactJson({{arrivalsKey, list}})) >= 0
            && file.commit();
    }
    m_unsaved = !written;
    if (written != m_kept) {
        m_kept = written;
        Q_EMIT changed();
    }
    return written;
}

bool RecentArrivals::isPresent(const Arrival &arrival)
{
    return FileSystem::regularFileSize(arrival.path).has_value();
}
