// Figures for document transfer against the local cloud (not a test: it prints, it does not judge).
//
//   tarvolin_transfer_bench pass    200 documents of 256 KiB in one pass, against a minimal client
//                                   making the same four requests per document
//   tarvolin_transfer_bench large   peak memory while one 512 MiB document is saved, against idle
//   tarvolin_transfer_bench copies  bytes read from existing files when a new document arrives under
//                                   a name with 100 numbered copies of other sizes

#include "app/AppModel.h"
#include "tests/support/Fakes.h"
#include "tests/support/LocalCloud.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTask>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

struct TransferBench;
template<>
struct TestAccess<TransferBench> {
    static QCoro::Task<CloudSession> session(AppModel &model) { return model.ensureSession(); }
};

namespace {

QString qs(const std::string &text) { return QString::fromStdString(text); }

// A field of /proc/self/status or /proc/self/io, in its own unit (kB for memory, bytes for io).
long long procField(const char *file, const std::string &name)
{
    std::ifstream in(file);
    std::string key;
    long long value = 0;
    while (in >> key) {
        if (key == name + ":") {
            in >> value;
            return value;
        }
        in.ignore(1 << 16, '\n');
    }
    return -1;
}

std::string documentOf(qint64 size, int seed)
{
    std::string bytes = "%PDF-1.7\n";
    bytes.resize(size_t(size), char('a' + seed % 26));
    return bytes;
}

// Trusts the local cloud process-wide, as a production build trusts the system's authorities, so
// that neither client pays for per-request trust settings that only test builds use.
void trustLocalCloud(const LocalCloud &cloud)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(QtHttpClient::loadAuthorities(qs(cloud.caCertPath())));
    QSslConfiguration::setDefaultConfiguration(tls);
}

struct Setup {
    Setup()
    {
        trustLocalCloud(cloud);
        services.settings.values.insert(QStringLiteral("targetFolderBookmark"), folder.path().toUtf8());
        model = std::make_unique<AppModel>(services.services(), testBuildValues(qs(cloud.baseUrl()), qs(cloud.anonKey())));
        QCoro::waitFor(model->syncNow()); // pairs silently
        computerId = cloud.claimPairing(model->pairing()->code.toStdString()).computerId;
        session = QCoro::waitFor(TestAccess<TransferBench>::session(*model));
    }

    LocalCloud cloud;
    TestServices services;
    QTemporaryDir folder;
    std::unique_ptr<AppModel> model;
    std::string computerId;
    CloudSession session;
};

// What a client without any of the program's care would do: the same four requests per document,
// the whole body in memory, written straight to its name.
QCoro::Task<int> minimalPass(QNetworkAccessManager *network, QString base, QString key, QString token,
                             QString computerId, QString folder)
{
    auto call = [&](const QString &path, const QByteArray &method, const QByteArray &body) {
        QNetworkRequest request(QUrl(base + path));
        request.setRawHeader("apikey", key.toUtf8());
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        return network->sendCustomRequest(request, method, body);
    };
    std::unique_ptr<QNetworkReply> listing(call(QStringLiteral("/rest/v1/transfer_items?computer_id=eq.") + computerId
                                                    + QStringLiteral("&status=eq.pending&select=id,storage_path,"
                                                                     "original_filename&order=created_at.asc&limit=500"),
                                                "GET", {}));
    co_await listing.get();
    const QJsonArray items = QJsonDocument::fromJson(listing->readAll()).array();
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        const QString path = item.value(QStringLiteral("storage_path")).toString();
        std::unique_ptr<QNetworkReply> sign(call(QStringLiteral("/storage/v1/object/sign/expenses/") + path, "POST",
                                                 R"({"expiresIn":120})"));
        co_await sign.get();
        const QString link = QJsonDocument::fromJson(sign->readAll()).object().value(QStringLiteral("signedURL")).toString();
        std::unique_ptr<QNetworkReply> fetch(network->get(QNetworkRequest(QUrl(base + QStringLiteral("/storage/v1") + link))));
        co_await fetch.get();
        QFile file(QDir(folder).filePath(item.value(QStringLiteral("original_filename")).toString()));
        file.open(QIODevice::WriteOnly);
        file.write(fetch->readAll());
        file.close();
        const QByteArray ack = QJsonDocument(QJsonObject{{QStringLiteral("status"), QStringLiteral("downloaded")},
                                                         {QStringLiteral("completed_at"), QStringLiteral("2026-03-01T09:00:00Z")},
                                                         {QStringLiteral("downloaded_filename"), file.fileName()}})
                                   .toJson(QJsonDocument::Compact);
        std::unique_ptr<QNetworkReply> patch(call(QStringLiteral("/rest/v1/transfer_items?id=eq.")
                                                      + item.value(QStringLiteral("id")).toString(), "PATCH", ack));
        co_await patch.get();
        const QByteArray cleanup = QJsonDocument(QJsonObject{{QStringLiteral("prefixes"), QJsonArray{path}}})
                                       .toJson(QJsonDocument::Compact);
        std::unique_ptr<QNetworkReply> remove(call(QStringLiteral("/storage/v1/object/expenses"), "DELETE", cleanup));
        co_await remove.get();
    }
    co_return int(items.size());
}

int benchPass()
{
    Setup setup;
    constexpr int count = 200;
    constexpr qint64 size = 256 * 1024;
    auto enqueue = [&](int round) {
        for (int i = 0; i < count; ++i)
            setup.cloud.sendDocument(setup.computerId, "belge-" + std::to_string(round) + "-" + std::to_string(i) + ".pdf",
                                     documentOf(size, i));
    };

    enqueue(1);
    QElapsedTimer timer;
    timer.start();
    QCoro::waitFor(setup.model->syncNow());
    const double programSeconds = timer.nsecsElapsed() / 1e9;
    if (setup.model->downloadedToday() != count) {
        std::cerr << "pass saved " << setup.model->downloadedToday() << " of " << count << "\n";
        return 1;
    }

    enqueue(2);
    QTemporaryDir minimalFolder;
    QNetworkAccessManager network;
    timer.restart();
    const int minimalCount = QCoro::waitFor(minimalPass(&network, qs(setup.cloud.baseUrl()), qs(setup.cloud.anonKey()),
                                                        setup.session.accessToken, qs(setup.computerId),
                                                        minimalFolder.path()));
    const double minimalSeconds = timer.nsecsElapsed() / 1e9;
    if (minimalCount != count) {
        std::cerr << "minimal client saw " << minimalCount << " of " << count << "\n";
        return 1;
    }

    std::printf("pass: %d x 256 KiB: program %.2f s (%.1f documents/s), minimal client %.2f s (%.1f documents/s), "
                "ratio %.2f\n",
                count, programSeconds, count / programSeconds, minimalSeconds, count / minimalSeconds,
                programSeconds / minimalSeconds);
    return 0;
}

int benchLarge()
{
    Setup setup;
    constexpr qint64 size = 512LL * 1024 * 1024;
    {
        const std::string bytes = documentOf(size, 7);
        setup.cloud.sendDocument(setup.computerId, "buyuk.pdf", bytes);
    }
    // Forget the upload's peak, so that only the pass counts.
    std::ofstream(std::string("/proc/self/clear_refs")) << "5";
    const long long idle = procField("/proc/self/status", "VmRSS");
    QCoro::waitFor(setup.model->syncNow());
    const long long peak = procField("/proc/self/status", "VmHWM");
    const qint64 saved = QFileInfo(QDir(setup.folder.path()).filePath(QStringLiteral("buyuk.pdf"))).size();
    if (saved != size) {
        std::cerr << "saved " << saved << " bytes of " << size << "\n";
        return 1;
    }
    std::printf("large: one 512 MiB document: idle RSS %.1f MiB, peak RSS during the pass %.1f MiB, growth %.1f MiB\n",
                idle / 1024.0, peak / 1024.0, (peak - idle) / 1024.0);
    return 0;
}

int benchCopies()
{
    QTemporaryDir folder;
    TestServices services;
    services.settings.values.insert(QStringLiteral("targetFolderBookmark"), folder.path().toUtf8());
    AppModel model(services.services(), testBuildValues());
    const auto write = [&](const QString &name, qint64 size) {
        QFile file(QDir(folder.path()).filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray::fromStdString(documentOf(size, int(size % 26))));
    };
    write(QStringLiteral("fatura.pdf"), 100 * 1024);
    for (int n = 2; n <= 100; ++n)
        write(QStringLiteral("fatura_%1.pdf").arg(n), 100 * 1024 + n);
    const QByteArray incoming = QByteArray::fromStdString(documentOf(64 * 1024, 3));
    const AppModel::DocumentDigest digest{incoming.size(), QCryptographicHash::hash(incoming, QCryptographicHash::Sha256)};

    const long long before = procField("/proc/self/io", "rchar");
    QElapsedTimer timer;
    timer.start();
    const auto destination = model.uniqueDestination(QStringLiteral("fatura.pdf"), digest);
    const qint64 micros = timer.nsecsElapsed() / 1000;
    const long long after = procField("/proc/self/io", "rchar");
    // Reading /proc/self/io itself counts towards rchar; measure that alone and take it away.
    const long long probe = procField("/proc/self/io", "rchar") - after;
    std::printf("copies: 100 numbered copies of other sizes: chose %s in %lld us, bytes read %lld\n",
                qPrintable(QFileInfo(destination.path).fileName()), (long long)micros, after - before - probe);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "pass")
        return benchPass();
    if (mode == "large")
        return benchLarge();
    if (mode == "copies")
        return benchCopies();
    std::cerr << "usage: tarvolin_transfer_bench pass|large|copies\n";
    return 2;
}
