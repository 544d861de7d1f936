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
#include <QJsonObject>
#include <QNetworkRequest>
#include <QPointer>

namespace {

// A fetch that stalls this long without a byte is given up, so that one dead link cannot hold the
// queue forever; the next pass tries again.
constexpr std::chrono::milliseconds fetchIdleTimeout{60000};

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
bool isMissingObject(int status) { return status == 404; }

QString listingPath(const QString &computerId)
{
    return QStringLiteral("/rest/v1/transfer_items?computer_id=eq.") + computerId
           + QStringLiteral("&status=eq.pending&select=id,storage_path,original_filename"
                            "&order=created_at.asc&limit=500");
}

// Streams the body of the signed link into the document. Plain GET: the link alone authorises it,
// so neither the key nor the token goes along.
QCoro::Task<> fetchInto(HttpClient *http, QUrl address, IncomingDocument *document)
{
    const ExchangeResult result =
        co_await exchange(*http, QNetworkRequest(address), getMethod, QByteArray(), *document, fetchIdleTimeout);
    if (isMissingObject(answerStatus(result.status, result.errorBody)))
        throw RefusedDocument(RefusedDocument::Reason::Missing, downloadFailedText);
    if (result.status < 200 || result.status > 299)
        throw CompanionError::server(downloadFailedText);
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

Inbox::Inbox(BackendClient &client, Clock &clock, QObject *parent)
    : QObject(parent), m_client(client), m_clock(clock)
{
}

QCoro::Task<Inbox::Outcome> Inbox::run(Pass pass)
{
    const QPointer<Inbox> self(this);
    // A download ended by a crash or a kill leaves its temporary file in the folder; nothing else
    // ever removes it.
    IncomingDocument::removeAbandoned(pass.folder);
    const QByteArray answer = co_await m_client.request(pass.backend, listingPath(pass.computerId), getMethod,
                                                        std::nullopt, pass.session.accessToken, std::nullopt);
    const std::optional<QList<TransferItem>> items = TransferItem::listFromJson(answer);
    if (!items)
        throw CompanionError::invalidResponse();
    Outcome outcome;
    if (!self)
        co_return outcome;

    outcome.listed = int(items->size());
    Q_EMIT listed(outcome.listed);
    for (int index = 0; index < outcome.listed; ++index) {
        Q_EMIT downloading(index + 1, outcome.listed);
        const TransferItem &item = items->at(index);
        std::optional<QString> name;
        try {
            name = co_await download(pass, item);
        } catch (const RefusedDocument &refusal) {
            outcome.refused.append(Refusal{item.original_filename, refusal.reason()});
        }
        if (!self)
            co_return outcome;
        if (name)
            Q_EMIT saved(*name, QDir(pass.folder).filePath(*name));
    }
    co_return outcome;
}

QCoro::Task<QString> Inbox::download(Pass pass, TransferItem item)
{
    // Request pieces are built outside the co_await expressions: GCC 12 rejects some initialisers
    // inside them.
    const QString signPath = signPathPrefix + FileNaming::escapedStoragePath(item.storage_path);
    const QByteArray signBody = compactJson({{QStringLiteral("expiresIn"), 120}});
    const QString token = pass.session.accessToken;
    QByteArray signAnswer;
    try {
        signAnswer = co_await m_client.request(pass.backend, signPath, postMethod, signBody, token, std::nullopt);
    } catch (const CompanionError &error) {
        if (isMissingObject(error.httpStatus()))
            throw RefusedDocument(RefusedDocument::Reason::Missing, error.message());
        throw;
    }
    const QUrl address = downloadAddress(signedLink(signAnswer), pass.backend.url);

    // Removed again by its destructor on every way out that does not place it.
    IncomingDocument document(pass.folder);
    co_await fetchInto(&m_client.http(), address, &document);
    const QString savedName = placeDocument(pass.folder, item.original_filename, document);

    const QString acknowledgePath = acknowledgePathPrefix + item.id;
    const QByteArray acknowledgement = acknowledgementBody(m_clock.now(), savedName);
    const QByteArray confirmation = co_await m_client.request(
        pass.backend, acknowledgePath, patchMethod, acknowledgement, token, returnMinimal);
    // A minimal update is answered with no content. A body instead (a proxy's page, a broken answer)
    // does not say that the row changed, and deleting the cloud copy now would leave a pending row with
    // nothing behind it; the next pass finds the saved file and acknowledges it again.
    if (!confirmation.isEmpty())
        throw CompanionError::invalidResponse();

    // The document is saved and acknowledged; a copy left in the bucket harms nobody.
    const QByteArray cleanup = cleanupBody(item.storage_path);
    try {
        co_await m_client.request(pass.backend, cleanupPath, deleteMethod, cleanup, token, std::nullopt);
    } catch (const std::exception &) {
    }
    co_return savedName;
}
