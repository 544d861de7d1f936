// Figures for document transfer against the local cloud (not a test: it prints, it does not judge).
//
//   tarvolin_transfer_bench pass [rounds]
//                                   200 documents of 256 KiB in one pass, against a minimal client
//                                   making the same four requests per document (6 rounds by default)
//   tarvolin_transfer_bench large   peak memory while one 512 MiB document is saved, against idle
//   tarvolin_transfer_bench copies  bytes read from existing files when a new document arrives under
//                                   a name with 100 numbered copies of other sizes

#include "app/AppModel.h"
#include "tests/support/Fakes.h"
#include "tests/support/LocalCloud.h"
#include "transfer/DocumentNaming.h"

#include <QApplication>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTask>
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

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

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
        model = std::make_unique<AppModel>(
            services.services(), testBuildValues(qs(cloud.baseUrl()), qs(cloud.anonKey())));
        QCoro::waitFor(model->syncNow()); // pairs silently
        computerId = cloud.claimPairing(model->pairing()->code.toStdString()).computerId;
        session = QCoro::waitFor(model->sessionKeeper().ensure(model->appliedBackend()));
    }

    LocalCloud cloud;
    TestServices services;
    QTemporaryDir folder;
    std::unique_ptr<AppModel> model;
    std::string computerId;
    CloudSession session;
};

// What a client without any of the program's care would do: the same four requests per document,
// the whole body in memory, written straight to its name. With `durable`, it still makes the bytes
// and the name survive a crash before acknowledging (the cloud copy goes right after): the least a
// correct client can do, and the yardstick for the program. Without, the figure shows what
// durability itself costs on this disk.
QCoro::Task<int> minimalPass(QNetworkAccessManager *network, QString base, QString key, QString token,
    QString computerId, QString folder, bool durable)
{
    auto call = [&](const QString &path, const QByteArray &method, const QByteArray &body) {
        QNetworkRequest request(QUrl(base + path));
        request.setRawHeader("apikey", key.toUtf8());
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        return network->sendCustomRequest(request, method, body);
    };
    std::unique_ptr<QNetworkReply> listing(
        call(QStringLiteral("/rest/v1/transfer_items?computer_id=eq.") + computerId
                + QStringLiteral("&status=eq.pending&select=id,storage_path,"
                                 "original_filename&order=created_at.asc&limit=500"),
            "GET", {}));
    co_await listing.get();
    const QJsonArray items = QJsonDocument::fromJson(listing->readAll()).array();
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        const QString path = item.value(QStringLiteral("storage_path")).toString();
        std::unique_ptr<QNetworkReply> sign(
            call(QStringLiteral("/storage/v1/object/sign/expenses/") + path, "POST", R"({"expiresIn":120})"));
        co_await sign.get();
        const QString link
            = QJsonDocument::fromJson(sign->readAll()).object().value(QStringLiteral("signedURL")).toString();
        std::unique_ptr<QNetworkReply> fetch(
            network->get(QNetworkRequest(QUrl(base + QStringLiteral("/storage/v1") + link))));
        co_await fetch.get();
        QFile file(QDir(folder).filePath(item.value(QStringLiteral("original_filename")).toString()));
        file.open(QIODevice::WriteOnly);
        file.write(fetch->readAll());
        file.flush();
        if (durable) {
            ::fdatasync(file.handle());
            const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::fsync(dir);
            ::close(dir);
        }
        file.close();
        const QByteArray ack
            = QJsonDocument(QJsonObject{{QStringLiteral("status"), QStringLiteral("downloaded")},
                                {QStringLiteral("completed_at"), QStringLiteral("2026-03-01T09:00:00Z")},
                                {QStringLiteral("downloaded_filename"), file.fileName()}})
                  .toJson(QJsonDocument::Compact);
        std::unique_ptr<QNetworkReply> patch(call(
            QStringLiteral("/rest/v1/transfer_items?id=eq.") + item.value(QStringLiteral("id")).toString(),
            "PATCH", ack));
        co_await patch.get();
        const QByteArray cleanup = QJsonDocument(
            QJsonObject{{QStringLiteral("prefixes"),
                QJsonArray{path}}}).toJson(QJsonDocument::Compact);
        std::unique_ptr<QNetworkReply> remove(
            call(QStringLiteral("/storage/v1/object/expenses"), "DELETE", cleanup));
        co_await remove.get();
    }
    co_return int(items.size());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Empties a folder between rounds, so that every round starts from the same folder size.
void emptyFolder(const QString &path)
{
    QDir folder(path);
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden))
        folder.remove(name);
}

// Rounds of three passes, each over its own fresh 200 documents: the program, the careful minimal
// client, the plain minimal client. The order turns every round, so that neither a warm-up nor the
// other engineers' load on the shared cores favours one client (whole turns: a multiple of three
// rounds); medians over the rounds.
int benchPass(int rounds)
{
    Setup setup;
    constexpr int count = 200;
    constexpr qint64 size = 256 * 1024;
    int batch = 0;
    auto enqueue = [&] {
        ++batch;
        for (int i = 0; i < count; ++i)
            setup.cloud.sendDocument(setup.computerId,
                "belge-" + std::to_string(batch) + "-" + std::to_string(i) + ".pdf", documentOf(size, i));
    };

    QTemporaryDir carefulFolder;
    QTemporaryDir plainFolder;
    QNetworkAccessManager network;
    const QString base = qs(setup.cloud.baseUrl());
    const QString key = qs(setup.cloud.anonKey());
    const QString computerId = qs(setup.computerId);

    // Returns the seconds the pass took, or a negative number when it did not save every document.
    const std::function<double()> clients[] = {
        [&] {
            const int before = setup.model->downloadedToday();
            QElapsedTimer timer;
            timer.start();
            QCoro::waitFor(setup.model->syncNow());
            const double seconds = timer.nsecsElapsed() / 1e9;
            return setup.model->downloadedToday() - before == count ? seconds : -1;
        },
        [&] {
            QElapsedTimer timer;
            timer.start();
            const int saved = QCoro::waitFor(minimalPass(
                &network, base, key, setup.session.accessToken, computerId, carefulFolder.path(), true));
            const double seconds = timer.nsecsElapsed() / 1e9;
            return saved == count ? seconds : -1;
        },
        [&] {
            QElapsedTimer timer;
            timer.start();
            const int saved = QCoro::waitFor(minimalPass(
                &network, base, key, setup.session.accessToken, computerId, plainFolder.path(), false));
            const double seconds = timer.nsecsElapsed() / 1e9;
            return saved == count ? seconds : -1;
        },
    };
    const char *names[] = {"program", "careful minimal", "plain minimal"};
    constexpr int clientCount = 3;

    std::vector<double> seconds[clientCount];
    std::vector<double> ratios[2];
    for (int round = 0; round < rounds; ++round) {
        double taken[clientCount] = {};
        for (int step = 0; step < clientCount; ++step) {
            const int client = (round + step) % clientCount;
            enqueue();
            // The uploads and the previous pass leave dirty pages behind; whoever's sync comes next
            // would pay for writing them out.
            ::sync();
            taken[client] = clients[client]();
            if (taken[client] < 0) {
                std::cerr << names[client] << " did not save all " << count << " documents\n";
                return 1;
            }
            seconds[client].push_back(taken[client]);
        }
        ratios[0].push_back(taken[0] / taken[1]);
        ratios[1].push_back(taken[0] / taken[2]);
        std::printf("round %d: program %.1f, careful minimal %.1f, plain minimal %.1f documents/s; "
                    "ratio %.2f (careful), %.2f (plain)\n",
            round + 1, count / taken[0], count / taken[1], count / taken[2], ratios[0].back(),
            ratios[1].back());
        std::fflush(stdout);
        emptyFolder(setup.folder.path());
        emptyFolder(carefulFolder.path());
        emptyFolder(plainFolder.path());
    }

    std::printf(
        "pass: %d x 256 KiB, median of %d rounds: program %.1f documents/s, careful minimal client "
        "(fdatasync + folder fsync) %.1f documents/s, plain minimal client (no sync) %.1f documents/s; "
        "ratio %.2f to the careful client, %.2f to the plain one\n",
        count, rounds, count / median(seconds[0]), count / median(seconds[1]), count / median(seconds[2]),
        median(ratios[0]), median(ratios[1]));
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
    std::printf("large: one 512 MiB document: idle RSS %.1f MiB, peak RSS during the pass %.1f MiB, growth "
                "%.1f MiB\n",
        idle / 1024.0, peak / 1024.0, (peak - idle) / 1024.0);
    return 0;
}

int benchCopies()
{
    QTemporaryDir folder;
    const auto write = [&](const QString &name, qint64 size) {
        QFile file(QDir(folder.path()).filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray::fromStdString(documentOf(size, int(size % 26))));
    };
    write(QStringLiteral("fatura.pdf"), 100 * 1024);
    for (int n = 2; n <= 100; ++n)
        write(QStringLiteral("fatura_%1.pdf").arg(n), 100 * 1024 + n);
    const QByteArray incoming = QByteArray::fromStdString(documentOf(64 * 1024, 3));
    const DocumentDigest digest{
        incoming.size(), QCryptographicHash::hash(incoming, QCryptographicHash::Sha256)};

    const long long before = procField("/proc/self/io", "rchar");
    QElapsedTimer timer;
    timer.start();
    const auto destination = uniqueDestination(folder.path(), QStringLiteral("fatura.pdf"), digest);
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
        return benchPass(argc > 2 ? std::max(1, std::atoi(argv[2])) : 6);
    if (mode == "large")
        return benchLarge();
    if (mode == "copies")
        return benchCopies();
    std::cerr << "usage: tarvolin_transfer_bench pass|large|copies\n";
    return 2;
}
