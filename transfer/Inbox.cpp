#include "transfer/Inbox.h"

#include "cloud/BackendError.h"
#include "cloud/Exchange.h"
#include "core/CompanionError.h"
#include "core/Json.h"
#include "platform/PlatformError.h"
#include "transfer/DocumentNaming.h"
#include "transfer/FileNaming.h"
#include "transfer/IncomingDocument.h"
#include "transfer/SignedLink.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>

QString RefusedDocument::reasonText(Reason reason)
{
    switch (reason) {
    case Reason::NotADocument:
        return QStringLiteral("dosya PDF ya da JPEG değil.");
    case Reason::Missing:
        return QStringLiteral("dosya bulutta bulunamadı.");
    case Reason::TooLarge:
        return QStringLiteral("dosya %1 MB sınırını aşıyor.").arg(maxDocumentBytes >> 20);
    case Reason::TooSlow:
        return QStringLiteral("bağlantı çok yavaş.");
    case Reason::Unreachable:
        return QStringLiteral("dosya buluttan indirilemedi.");
    }
    return {};
}

namespace {

// A fetch that stalls this long without a byte is given up whatever the clock says.
constexpr std::chrono::milliseconds fetchIdleTimeout{60000};

// A link that brings less than 1 KiB/s over 30 s is given up: a trickle never meets an idle time-out,
// and would hold every document behind it for as long as it lasts.
constexpr std::chrono::milliseconds rateWindow{30000};
constexpr qint64 minimumBytesPerSecond = 1024;

// A document refused for lasting reasons is not fetched again for this long: a refused gigabyte
// would otherwise be fetched at every pass.
constexpr qint64 refusalHoldSeconds = 3600;

// Rows per listing; a pass asks for the next page past the rows it could not save.
constexpr int listingPageSize = 500;

// The most clean-ups kept for a later try; beyond, the oldest is forgotten (its copy stays in the
// bucket, as every copy did before clean-ups were tried again).
constexpr qsizetype maxPendingCleanups = 1000;

// "%PDF-" is the longest of the leading marks.
constexpr qsizetype judgedLeadingBytes = 5;

// Names can be taken between choosing and moving only by something outside this program; give up
// eventually rather than spin.
constexpr int maxPlacementAttempts = 100;

const QString signPathPrefix = QStringLiteral("/storage/v1/object/sign/expenses/");
const QString acknowledgePathPrefix = QStringLiteral("/rest/v1/transfer_items?id=eq.");
const QString cleanupPath = QStringLiteral("/storage/v1/object/expenses");
const QString returnMinimal = QStringLiteral("return=minimal");
const QByteArray getMethod = QByteArrayLiteral("GET");
const QByteArray postMethod = QByteArrayLiteral("POST");
const QByteArray patchMethod = QByteArrayLiteral("PATCH");
const QByteArray deleteMethod = QByteArrayLiteral("DELETE");

// Asking again does not bring back an object that is not there.
bool isMissingObject(int status)
{
    return status == 404;
}

// A value inside a filter: escaped whole, so that no "&", "#" or "," in it can add to the query.
QString filterValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// Ties on created_at are broken by id, so that every page of one pass sees the same order.
QString listingPath(const QString &computerId, int offset)
{
    QString path = QStringLiteral("/rest/v1/transfer_items?computer_id=eq.") + filterValue(computerId)
        + QStringLiteral("&status=eq.pending&select=id,storage_path,original_filename"
                         "&order=created_at.asc,id.asc&limit=%1")
              .arg(listingPageSize);
    if (offset > 0)
        path += QStringLiteral("&offset=%1").arg(offset);
    return path;
}

// Whether a fetch keeps up at least the minimum rate, judged on the injected clock at every arrival
// and every second between them: a trickle would otherwise never meet an idle time-out.
class RateWatch
{
public:
    explicit RateWatch(Clock &clock)
        : m_clock(clock)
        , m_windowStart(clock.now())
    {
    }

    void add(qint64 bytes) { m_windowBytes += bytes; }
    // True once the current window is full and brought less than the minimum rate; the window starts
    // again otherwise.
    bool tooSlow()
    {
        const QDateTime now = m_clock.now();
        const qint64 elapsed = m_windowStart.msecsTo(now);
        if (elapsed < 0) // the wall clock was set back: start again from here
            m_windowStart = now;
        if (elapsed < rateWindow.count())
            return m_slow;
        m_slow = m_slow || m_windowBytes * 1000 < minimumBytesPerSecond * elapsed;
        m_windowStart = now;
        m_windowBytes = 0;
        return m_slow;
    }

private:
    Clock &m_clock;
    QDateTime m_windowStart;
    qint64 m_windowBytes = 0;
    bool m_slow = false;
};

// Writes the document as it arrives, refusing it at its first bytes when they are not what its name
// promises, at the cap when it grows too big, and when it comes too slowly, before more of it
// reaches the disk.
class DocumentSink : public ReplySink
{
public:
    DocumentSink(IncomingDocument &document, const QString &originalName, RateWatch &watch)
        : m_document(document)
        , m_originalName(originalName)
        , m_watch(watch)
    {
    }

    void write(QByteArrayView bytes) override
    {
        if (m_document.size() + bytes.size() > maxDocumentBytes)
            throw RefusedDocument(RefusedDocument::Reason::TooLarge);
        try {
            m_document.write(bytes);
        } catch (...) {
            writeFailed = true;
            throw;
        }
        m_watch.add(bytes.size());
        if (!m_judged && m_document.leadingBytes().size() >= judgedLeadingBytes) {
            m_judged = true;
            try {
                validateDocument(m_document.leadingBytes(), m_originalName);
            } catch (const CompanionError &error) {
                throw RefusedDocument(RefusedDocument::Reason::NotADocument, error.message());
            }
        }
        if (m_watch.tooSlow())
            throw RefusedDocument(RefusedDocument::Reason::TooSlow);
    }

    bool writeFailed = false; // the folder refused the bytes: that is no failure of this document

private:
    IncomingDocument &m_document;
    const QString &m_originalName;
    RateWatch &m_watch;
    bool m_judged = false;
};

// Streams the body of the signed link into the document. Plain GET: the link alone authorises it,
// so neither the key nor the token goes along. Every failure of the link itself is this document's
// alone; a folder that cannot be written is not.
QCoro::Task<> fetchInto(
    HttpClient *http, Clock *clock, QUrl address, IncomingDocument *document, QString originalName)
{
    RateWatch watch(*clock);
    DocumentSink sink(*document, originalName, watch);
    // Between arrivals; a link that sends nothing at all is caught here too.
    Cancellation stop;
    bool stalled = false;
    QTimer ticker;
    ticker.setInterval(1000);
    QObject::connect(&ticker, &QTimer::timeout, &stop, [&watch, &stop, &stalled] {
        if (!stalled && watch.tooSlow()) {
            stalled = true;
            stop.cancel();
        }
    });
    ticker.start();
    // The bytes as stored: a compressed answer would be unpacked by the network stack, which gives up
    // on a highly compressible one part-way, before the cap could judge it.
    QNetworkRequest request(address);
    request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
    ExchangeResult result;
    try {
        result = co_await exchange(*http, request, getMethod, QByteArray(), sink, fetchIdleTimeout, &stop);
    } catch (const RefusedDocument &) {
        throw;
    } catch (const std::exception &) {
        if (sink.writeFailed)
            throw;
        if (stalled)
            throw RefusedDocument(RefusedDocument::Reason::TooSlow);
        throw RefusedDocument(RefusedDocument::Reason::Unreachable, downloadFailedText);
    }
    if (isMissingObject(answerStatus(result.status, result.errorBody)))
        throw RefusedDocument(RefusedDocument::Reason::Missing, downloadFailedText);
    if (result.status < 200 || result.status > 299)
        throw RefusedDocument(RefusedDocument::Reason::Unreachable, downloadFailedText);
    document->finish();
}

QByteArray acknowledgementBody(const QDateTime &now, const QString &savedName)
{
    return compactJson({
        {QStringLiteral("status"), QStringLiteral("downloaded")},
        // Whole seconds in UTC with a "Z"; Qt::ISODate leaves out milliseconds.
        {QStringLiteral("completed_at"), now.toUTC().toString(Qt::ISODate)},
        {QStringLiteral("downloaded_filename"), savedName},
    });
}

QByteArray cleanupBody(const QJsonArray &storagePaths)
{
    return compactJson({{QStringLiteral("prefixes"), storagePaths}});
}

// The storage answers a removal with the list of what it removed; a success without one (a proxy's
// page, a broken answer) may not have reached it, so the copy is kept for another try.
bool isRemovalList(const QByteArray &answer)
{
    return QJsonDocument::fromJson(answer).isArray();
}

const QString backendKey = QStringLiteral("backend");
const QString pathKey = QStringLiteral("path");

// Moves the document into place under a free name, or finds it already saved; returns the file name.
QString placeDocument(const QString &folder, const QString &originalName, IncomingDocument &document)
{
    const DocumentDigest digest{document.size(), document.sha256()};
    for (int attempt = 0; attempt < maxPlacementAttempts; ++attempt) {
        const Destination destination = uniqueDestination(folder, originalName, digest);
        if (destination.identicalExists)
            return QFileInfo(destination.path).fileName();
        try {
            validateDocument(document.leadingBytes(), originalName);
        } catch (const CompanionError &error) {
            throw RefusedDocument(RefusedDocument::Reason::NotADocument, error.message());
        }
        if (document.commitAs(destination.path))
            return QFileInfo(destination.path).fileName();
    }
    throw PlatformError(QStringLiteral("Evrak için boş bir dosya adı bulunamadı."));
}

} // namespace

Inbox::Inbox(BackendClient &client, Clock &clock, Settings &settings, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_clock(clock)
    , m_settings(settings)
{
}

QCoro::Task<Inbox::Outcome> Inbox::run(Pass pass)
{
    const QPointer<Inbox> self(this);
    // A download ended by a crash or a kill leaves its temporary file in the folder; nothing else
    // ever removes it.
    IncomingDocument::removeAbandoned(pass.folder);
    const QDateTime now = m_clock.now();
    m_held.removeIf([&now](const QHash<QString, Hold>::iterator entry) { return entry->until <= now; });

    Outcome outcome;
    QSet<QString> seen;
    // Rows of this pass left pending: the next page starts past them, so that no number of refused
    // documents can hide a newer one.
    int leftPending = 0;
    for (;;) {
        const QString path = listingPath(pass.computerId, leftPending);
        const QByteArray answer = co_await m_client.request(
            pass.backend, path, getMethod, std::nullopt, pass.session.accessToken, std::nullopt);
        const std::optional<QList<TransferItem>> items = TransferItem::listFromJson(answer);
        if (!items)
            throw CompanionError::invalidResponse();
        if (!self)
            co_return outcome;

        QList<TransferItem> fresh;
        for (const TransferItem &item : *items) {
            if (!seen.contains(item.id)) {
                seen.insert(item.id);
                fresh.append(item);
            }
        }
        outcome.listed += int(fresh.size());
        Q_EMIT listed(leftPending + int(fresh.size()));
        const int numbered = outcome.listed - int(fresh.size());
        for (qsizetype index = 0; index < fresh.size(); ++index) {
            Q_EMIT downloading(numbered + int(index) + 1, outcome.listed);
            const TransferItem &item = fresh.at(index);
            if (const auto held = m_held.constFind(item.id); held != m_held.constEnd()) {
                outcome.refused.append(Refusal{item.original_filename, held->reason});
                ++leftPending;
                continue;
            }
            std::optional<QString> name;
            try {
                name = co_await download(pass, item);
            } catch (const RefusedDocument &refusal) {
                outcome.refused.append(Refusal{item.original_filename, refusal.reason()});
                if (refusal.isLasting())
                    m_held.insert(item.id, Hold{m_clock.now().addSecs(refusalHoldSeconds), refusal.reason()});
                ++leftPending;
            }
            if (!self)
                co_return outcome;
            if (name)
                Q_EMIT saved(*name, QDir(pass.folder).filePath(*name));
        }
        // A short page is the last; a page of rows already seen means the backend does not page.
        if (items->size() < listingPageSize || fresh.isEmpty())
            break;
    }
    co_await retryCleanups(pass);
    co_return outcome;
}

void Inbox::rememberCleanup(const QString &backendURL, const QString &storagePath)
{
    QJsonArray kept = QJsonDocument::fromJson(m_settings.value(SettingKeys::pendingCleanups)).array();
    kept.append(QJsonObject{{backendKey, backendURL}, {pathKey, storagePath}});
    while (kept.size() > maxPendingCleanups)
        kept.removeFirst();
    m_settings.set(SettingKeys::pendingCleanups, QJsonDocument(kept).toJson(QJsonDocument::Compact));
}

QCoro::Task<bool> Inbox::removeCopies(const Pass &pass, QJsonArray storagePaths)
{
    const QByteArray body = cleanupBody(storagePaths);
    const QString token = pass.session.accessToken;
    try {
        const QByteArray answer
            = co_await m_client.request(pass.backend, cleanupPath, deleteMethod, body, token, std::nullopt);
        co_return isRemovalList(answer);
    } catch (const CompanionError &error) {
        // Gone already is as good as removed.
        co_return isMissingObject(error.httpStatus());
    } catch (const std::exception &) {
        co_return false;
    }
}

QCoro::Task<> Inbox::retryCleanups(const Pass &pass)
{
    const QPointer<Inbox> self(this);
    const QJsonArray kept = QJsonDocument::fromJson(m_settings.value(SettingKeys::pendingCleanups)).array();
    // Only this backend's copies: another one's token means nothing here.
    QJsonArray paths;
    for (const QJsonValue entry : kept) {
        if (entry[backendKey].toString() == pass.backend.url && entry[pathKey].isString())
            paths.append(entry[pathKey]);
    }
    if (paths.isEmpty())
        co_return;
    const bool removed = co_await removeCopies(pass, paths);
    if (!removed || !self)
        co_return;
    // Read again: a document saved meanwhile may have added its own.
    QJsonArray left;
    for (const QJsonValue entry :
        QJsonDocument::fromJson(m_settings.value(SettingKeys::pendingCleanups)).array()) {
        if (!(entry[backendKey].toString() == pass.backend.url && paths.contains(entry[pathKey])))
            left.append(entry);
    }
    m_settings.set(SettingKeys::pendingCleanups,
        left.isEmpty() ? QByteArray() : QJsonDocument(left).toJson(QJsonDocument::Compact));
}

QCoro::Task<QString> Inbox::download(Pass pass, TransferItem item)
{
    const QPointer<Inbox> self(this);
    // Request pieces are built outside the co_await expressions: GCC 12 rejects some initialisers
    // inside them.
    const QString signPath = signPathPrefix + FileNaming::escapedStoragePath(item.storage_path);
    const QByteArray signBody = compactJson({{QStringLiteral("expiresIn"), 120}});
    const QString token = pass.session.accessToken;
    QByteArray signAnswer;
    try {
        signAnswer
            = co_await m_client.request(pass.backend, signPath, postMethod, signBody, token, std::nullopt);
    } catch (const CompanionError &error) {
        if (isMissingObject(error.httpStatus()))
            throw RefusedDocument(RefusedDocument::Reason::Missing, error.message());
        throw;
    }
    const QUrl address = downloadAddress(signedLink(signAnswer), pass.backend.url);

    // Removed again by its destructor on every way out that does not place it.
    IncomingDocument document(pass.folder);
    co_await fetchInto(&m_client.http(), &m_clock, address, &document, item.original_filename);
    const QString savedName = placeDocument(pass.folder, item.original_filename, document);

    const QString acknowledgePath = acknowledgePathPrefix + filterValue(item.id);
    const QByteArray acknowledgement = acknowledgementBody(m_clock.now(), savedName);
    const QByteArray confirmation = co_await m_client.request(
        pass.backend, acknowledgePath, patchMethod, acknowledgement, token, returnMinimal);
    // A minimal update is answered with no content. A body instead (a proxy's page, a broken answer)
    // does not say that the row changed, and deleting the cloud copy now would leave a pending row with
    // nothing behind it; the next pass finds the saved file and acknowledges it again.
    if (!confirmation.isEmpty())
        throw CompanionError::invalidResponse();

    // The document is saved and acknowledged, and its row is no longer offered: a copy that cannot
    // be removed now is remembered, or it would stay in the bucket for ever.
    const QJsonArray ownCopy{item.storage_path};
    const bool cleaned = co_await removeCopies(pass, ownCopy);
    if (!cleaned && self)
        rememberCleanup(pass.backend.url, item.storage_path);
    co_return savedName;
}
