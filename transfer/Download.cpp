#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "core/Json.h"
#include "transfer/FileNaming.h"
#include "transfer/IncomingDocument.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QCoro/QCoroNetworkReply>

#include <memory>

namespace {

const QString downloadFailedText = QStringLiteral("Evrak indirilemedi.");

// A fetch that stalls this long without a byte is given up, so that one dead link cannot hold the
// queue forever; the next pass tries again.
constexpr int fetchIdleTimeoutMs = 60000;

// Bounds the reply's own buffer: bytes go to disk as they come instead of piling up in memory.
constexpr qint64 fetchBufferBytes = 1 << 20;

// Names can be taken between choosing and moving only by something outside this program; give up
// eventually rather than spin.
constexpr int maxPlacementAttempts = 100;

const QString signPathPrefix = QStringLiteral("/storage/v1/object/sign/expenses/");
const QString acknowledgePathPrefix = QStringLiteral("/rest/v1/transfer_items?id=eq.");
const QString cleanupPath = QStringLiteral("/storage/v1/object/expenses");
const QString returnMinimal = QStringLiteral("return=minimal");
const QByteArray postMethod = QByteArrayLiteral("POST");
const QByteArray patchMethod = QByteArrayLiteral("PATCH");
const QByteArray deleteMethod = QByteArrayLiteral("DELETE");

// The link from the signing answer: `signedURL`, or `signedUrl` only when the first is absent.
QString signedLink(const QByteArray &answer)
{
    const QJsonObject object = parseJsonObject(answer);
    const QJsonValue link = object.contains(QLatin1String("signedURL")) ? object.value(QLatin1String("signedURL"))
                                                                        : object.value(QLatin1String("signedUrl"));
    if (!link.isString())
        throw CompanionError::invalidResponse();
    return link.toString();
}

QUrl downloadAddress(const QString &link, const QString &supabaseURL)
{
    QUrl address(link, QUrl::StrictMode);
    if (!address.isValid() || address.scheme().isEmpty()) {
        address = QUrl(supabaseURL + QStringLiteral("/storage/v1") + link, QUrl::StrictMode);
        if (!address.isValid())
            throw CompanionError::invalidURL();
    }
    // Only the web is fetched: a file: or other link from the backend must not reach local data.
    if (address.scheme() != QLatin1String("https") && address.scheme() != QLatin1String("http"))
        throw CompanionError::server(downloadFailedText);
    return address;
}

// Streams the body of the signed link into the document. Plain GET: the link alone authorises it,
// so neither the key nor the token goes along.
QCoro::Task<> fetchInto(HttpClient *http, QUrl address, IncomingDocument *document)
{
    QNetworkRequest request(address);
    request.setTransferTimeout(fetchIdleTimeoutMs);
    std::unique_ptr<QNetworkReply> reply(http->send(request, QByteArrayLiteral("GET"), {}));
    reply->setReadBufferSize(fetchBufferBytes);

    std::exception_ptr writeFailure;
    QNetworkReply *raw = reply.get();
    QObject::connect(raw, &QIODevice::readyRead, raw, [raw, document, &writeFailure] {
        if (writeFailure)
            return;
        try {
            document->append(raw->readAll());
        } catch (...) {
            writeFailure = std::current_exception();
            raw->abort();
        }
    });
    if (!raw->isFinished())
        co_await raw;
    QObject::disconnect(raw, &QIODevice::readyRead, raw, nullptr);
    if (writeFailure)
        std::rethrow_exception(writeFailure);

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (raw->error() != QNetworkReply::NoError)
            throw PlatformError(raw->errorString());
        throw CompanionError::server(downloadFailedText);
    }
    if (status.toInt() < 200 || status.toInt() > 299)
        throw CompanionError::server(downloadFailedText);
    // A 2xx whose body broke off is not a document.
    if (raw->error() != QNetworkReply::NoError)
        throw PlatformError(raw->errorString());
    document->append(raw->readAll());
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

QByteArray cleanupBody(const QString &storagePath)
{
    return compactJson({{QStringLiteral("prefixes"), QJsonArray{storagePath}}});
}

// Moves the document into place under a free name, or finds it already saved; returns the file name.
QString placeDocument(const AppModel &model, const QString &originalName, IncomingDocument &document)
{
    const AppModel::DocumentDigest digest{document.size(), document.sha256()};
    for (int attempt = 0; attempt < maxPlacementAttempts; ++attempt) {
        const AppModel::Destination destination = model.uniqueDestination(originalName, digest);
        if (destination.identicalExists)
            return QFileInfo(destination.path).fileName();
        AppModel::validateDocument(document.leadingBytes(), originalName);
        if (document.commitAs(destination.path))
            return QFileInfo(destination.path).fileName();
    }
    throw PlatformError(QStringLiteral("Evrak için boş bir dosya adı bulunamadı."));
}

} // namespace

QCoro::Task<> AppModel::download(TransferItem item, CloudSession auth)
{
    // Request pieces are built outside the co_await expressions: GCC 12 rejects some initialisers
    // inside them.
    const QString signPath = signPathPrefix + FileNaming::escapedStoragePath(item.storage_path);
    const QByteArray signBody = compactJson({{QStringLiteral("expiresIn"), 120}});
    const QByteArray signAnswer = co_await request(signPath, postMethod, signBody, auth.accessToken, std::nullopt);
    const QUrl address = downloadAddress(signedLink(signAnswer), m_supabaseURL);

    // Removed again by its destructor on every way out that does not place it.
    IncomingDocument document(QDir::cleanPath(m_targetFolder.toLocalFile()));
    co_await fetchInto(&m_services.http, address, &document);
    const QString savedName = placeDocument(*this, item.original_filename, document);

    const QString acknowledgePath = acknowledgePathPrefix + item.id;
    const QByteArray acknowledgement = acknowledgementBody(m_services.clock.now(), savedName);
    co_await request(acknowledgePath, patchMethod, acknowledgement, auth.accessToken, returnMinimal);

    // The document is saved and acknowledged; a copy left in the bucket harms nobody.
    const QByteArray cleanup = cleanupBody(item.storage_path);
    try {
        co_await request(cleanupPath, deleteMethod, cleanup, auth.accessToken, std::nullopt);
    } catch (const std::exception &) {
    }
}
