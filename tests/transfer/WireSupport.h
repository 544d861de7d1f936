#pragma once

// A model wired to a fresh local cloud, with a target folder of its own, for transfer and pairing
// tests that go over the wire.

#include "app/AppModel.h"
#include "core/CompanionError.h"
#include "tests/support/Fakes.h"
#include "tests/support/LocalCloud.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct WireAccess {
    // One document through the model's own inbox, into its target folder.
    static QCoro::Task<> download(AppModel &model, TransferItem item, CloudSession session)
    {
        const QString computerId = model.pairing() ? model.pairing()->computerId : QString();
        const Inbox::Pass pass{model.appliedBackend(), std::move(session), computerId, model.folder().path()};
        co_await model.inbox().download(pass, std::move(item));
    }
    static QCoro::Task<CloudSession> session(AppModel &model)
    {
        return model.sessionKeeper().ensure(model.appliedBackend());
    }
    static QCoro::Task<> silentPairing(AppModel &model, CloudSession session)
    {
        return model.pass().pairSilently(model.appliedBackend(), std::move(session));
    }
    static const RealtimeChannel &push(const AppModel &model) { return model.pushChannel(); }
    static bool passRequested(AppModel &model) { return model.pass().isRequested(); }
};

// The message of the task's failure, or nothing when it succeeded. (QCoro::waitFor would wait
// forever on a task that throws.)
inline QCoro::Task<std::optional<QString>> failureOf(QCoro::Task<> task)
{
    std::optional<QString> failure;
    try {
        co_await std::move(task);
    } catch (const std::exception &error) {
        failure = errorMessage(error);
    }
    co_return failure;
}

// Readable failure output for the texts compared here.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}
inline QJsonObject jsonOf(const std::string &body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

const QByteArray testPdf = QByteArrayLiteral("%PDF-1.7\n1 0 obj << >> endobj\n%%EOF\n");
const QByteArray testJpeg = QByteArrayLiteral("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00 photo bytes");

class WireTest : public ::testing::Test
{
protected:
    WireTest()
        : WireTest({}, true)
    {
    }
    // `trustCloud`: the program trusts the cloud's authority as a test build's extra one.
    WireTest(LocalCloud::Options options, bool trustCloud)
        : cloud(std::move(options))
        , services(
              trustCloud ? QtHttpClient::loadAuthorities(qs(cloud.caCertPath())) : QList<QSslCertificate>())
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        services.settings.values.insert(QStringLiteral("targetFolderBookmark"), folder.path().toUtf8());
        restart();
    }

    // A new model on the same services, as after a restart of the program.
    void restart()
    {
        model = std::make_unique<AppModel>(
            services.services(), testBuildValues(qs(cloud.baseUrl()), qs(cloud.anonKey())));
    }

    // Runs one pass to its end.
    void sync() { QCoro::waitFor(model->syncNow()); }

    // Lets the phone claim the code of a pairing the model obtains silently; returns the computer id.
    std::string pairPhone()
    {
        const CloudSession session = QCoro::waitFor(WireAccess::session(*model));
        QCoro::waitFor(WireAccess::silentPairing(*model, session));
        EXPECT_TRUE(model->pairing().has_value());
        if (!model->pairing())
            return {};
        return cloud.claimPairing(model->pairing()->code.toStdString()).computerId;
    }

    // Every entry in the folder (or another), hidden ones included, sorted.
    QStringList entries(const QString &path = {}) const
    {
        return QDir(path.isEmpty() ? folder.path() : path)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    // What a file in the folder, or at an absolute path, holds.
    QByteArray contents(const QString &name) const
    {
        QFile file(QDir(folder.path()).filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    LocalCloud::Row rowWithId(const std::string &id)
    {
        for (const auto &row : cloud.rows())
            if (row.id == id)
                return row;
        ADD_FAILURE() << "no row " << id;
        return {};
    }

    std::vector<LocalCloud::LoggedRequest> requestsTo(const std::string &method, const std::string &prefix)
    {
        std::vector<LocalCloud::LoggedRequest> found;
        for (auto &request : cloud.requestLog())
            if (request.method == method && request.path.rfind(prefix, 0) == 0)
                found.push_back(request);
        return found;
    }

    LocalCloud cloud;
    TestServices services;
    QTemporaryDir folder;
    std::unique_ptr<AppModel> model;
};
