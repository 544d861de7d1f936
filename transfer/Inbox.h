#pragma once

#include "cloud/Backend.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudSession.h"
#include "core/Settings.h"
#include "platform/Clock.h"
#include "transfer/TransferItem.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

#include <exception>

// The most one document may take on the disk: a link that never ends must not fill it.
inline constexpr qint64 maxDocumentBytes = qint64(256) * 1024 * 1024;

// A failure that belongs to one document, not to the backend: its bytes are not what its name
// promises, it is too big, its stored object is gone, or its link is slow or broken. Its row is left
// pending and untouched, so a mended object is still collected, and the pass goes on with the rows
// behind it.
class RefusedDocument : public std::exception
{
public:
    enum class Reason { NotADocument, Missing, TooLarge, TooSlow, Unreachable };
    // `cause`: the failure underneath, for what(); without one what() is the reason's own text.
    explicit RefusedDocument(Reason reason, const QString &cause = {})
        : m_reason(reason)
        , m_utf8((cause.isEmpty() ? reasonText(reason) : cause).toUtf8())
    {
    }
    // What the user is told about a document refused for `reason`: the one wording of each reason.
    static QString reasonText(Reason reason);
    Reason reason() const { return m_reason; }
    // Whether the same bytes would be refused again: such a document is fetched at most once an hour.
    bool isLasting() const { return m_reason == Reason::NotADocument || m_reason == Reason::TooLarge; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    Reason m_reason;
    QByteArray m_utf8;
};

// The documents the phone queued for this computer, and their way into the target folder.
class Inbox : public QObject
{
    Q_OBJECT
public:
    // What one pass needs: where the backend is, whose session, which computer, which folder.
    struct Pass {
        Backend backend;
        CloudSession session;
        QString computerId;
        QString folder; // an existing folder's absolute path
    };

    struct Refusal {
        QString originalName;
        RefusedDocument::Reason reason;
    };
    struct Outcome {
        int listed = 0;
        QList<Refusal> refused; // oldest first; their rows are still pending
    };

    Inbox(BackendClient &client, Clock &clock, Settings &settings, QObject *parent = nullptr);

    // Lists the computer's pending documents and saves each, oldest first, reporting its progress by
    // the signals below. A refused document is passed over, and the listing goes on past it; one
    // refused for lasting reasons is not fetched again for an hour (remembered in memory by row id).
    // Any other failure ends the pass and is thrown, and the remaining rows wait for the next pass.
    // Cloud copies whose clean-up failed earlier are removed again at the end.
    QCoro::Task<Outcome> run(Pass pass);
    // Signs a link for the row's stored object, streams the bytes into the folder, names and checks
    // them, acknowledges the row under the saved file's name and removes the cloud copy. Returns the
    // saved file's name. A document already saved with the same bytes is not written again. Throws
    // RefusedDocument for a failure of this document alone. A clean-up that fails is kept in the
    // settings and tried again by later passes.
    QCoro::Task<QString> download(Pass pass, TransferItem item);

Q_SIGNALS:
    void listed(int count);
    void downloading(int number, int count); // number counts from 1
    void saved(const QString &fileName, const QString &path);

private:
    struct Hold {
        QDateTime until;
        RefusedDocument::Reason reason;
    };

    // Removes the copies from the bucket; false when that may not have happened (kept for a retry).
    QCoro::Task<bool> removeCopies(const Pass &pass, QJsonArray storagePaths);
    QCoro::Task<> retryCleanups(const Pass &pass);
    void rememberCleanup(const QString &backendURL, const QString &storagePath);

    BackendClient &m_client;
    Clock &m_clock;
    Settings &m_settings;
    QHash<QString, Hold> m_held; // row id: refused for lasting reasons, not fetched again until then
};
