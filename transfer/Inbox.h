#pragma once

#include "cloud/Backend.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudSession.h"
#include "platform/Clock.h"
#include "transfer/TransferItem.h"

#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

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

    Inbox(BackendClient &client, Clock &clock, QObject *parent = nullptr);

    // Lists the computer's pending documents and saves each, oldest first, reporting its progress by
    // the signals below. The first failure ends the pass and is thrown; the remaining rows wait for
    // the next pass. Returns the number of documents listed.
    QCoro::Task<int> run(Pass pass);
    // Signs a link for the row's stored object, streams the bytes into the folder, names and checks
    // them, acknowledges the row under the saved file's name and removes the cloud copy. Returns the
    // saved file's name. A document already saved with the same bytes is not written again.
    QCoro::Task<QString> download(Pass pass, TransferItem item);

Q_SIGNALS:
    void listed(int count);
    void downloading(int number, int count); // number counts from 1
    void saved(const QString &fileName);

private:
    BackendClient &m_client;
    Clock &m_clock;
};
