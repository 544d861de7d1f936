#pragma once

#include "platform/SecretStore.h"

#include <QString>

#include <chrono>
#include <memory>

// The desktop's Secret Service, reached by a short-lived copy of this program for each operation.
// The libraries behind the store (GIO, libsecret and theirs) load on first use and never unload; a
// tray program idles for hours, and each of them would hold their memory for all that time.
// Operations run one after another, in the order they were asked for, as the store's own queue ran
// them; a child that does not end within the time-out is killed and counts as a failure.
class ChildProcessSecretStore : public SecretStore
{
public:
    // The default is the running program's own image, which outlives a package upgrade or removal
    // that replaces or deletes its file: the child always speaks the parent's protocol.
    explicit ChildProcessSecretStore(QString helper = QStringLiteral("/proc/self/exe"),
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    QCoro::Task<> save(QString service, QString account, QByteArray data) override;
    QCoro::Task<std::optional<QByteArray>> load(QString service, QString account) override;
    QCoro::Task<> remove(QString service, QString account) override;

    // Lets the operations still under way finish, each within the time-out, for a program that is
    // about to end: a renewed session that never reached the store would be refused at the next start.
    void finishPendingWork();

    // The helper's side: the first argument that makes the program a child of this store, and its
    // whole life, called before anything else of the program starts. Returns the exit code.
    static constexpr const char *helperArgument = "--secret-store-helper";
    static int runHelper(int argc, char *argv[]);

private:
    struct Queue;
    QCoro::Task<std::optional<QByteArray>> run(
        QString operation, QString service, QString account, QByteArray input);

    QString m_helper;
    std::chrono::milliseconds m_timeout;
    // Shared with the running operations, which may outlive the store.
    std::shared_ptr<Queue> m_queue;
};
