#pragma once

#include "cloud/Backend.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudSession.h"
#include "platform/Clock.h"
#include "transfer/TransferItem.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

#include <exception>

// A document that waiting will not make savable: its bytes are not what its name promises, or its
// stored object is gone. Its row is left pending and untouched, so a mended object is still collected.
class RefusedDocument : public std::exception
{
public:
    enum class Reason { NotADocument, Missing };
    RefusedDocument(Reason reason, const QString &message) : m_reason(reason), m_utf8(message.toUtf8()) {}
    Reason reason() const { return m_reason; }
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

    Inbox(BackendClient &client, Clock &clock, QObject *parent = nullptr);

    // Lists the computer's pending documents and saves each, oldest first, reporting its progress by
    // the signals below. A refused document is passed over; any other failure ends the pass and is
    // thrown, and the remaining rows wait for the next pass.
    QCoro::Task<Outcome> run(Pass pass);
    // Signs a link for the row's stored object, streams the bytes into the folder, names and checks
    // them, acknowledges the row under the saved file's name and removes the cloud copy. Returns the
    // saved file's name. A document already saved with the same bytes is not written again. Throws
    // RefusedDocument for a document that waiting will not mend.
    QCoro::Task<QString> download(Pass pass, TransferItem item);

Q_SIGNALS:
    void listed(int count);
    void downloading(int number, int count); // number counts from 1
    void saved(const QString &fileName, const QString &path);

private:
    BackendClient &m_client;
    Clock &m_clock;
};
