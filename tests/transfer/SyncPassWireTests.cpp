// Whole passes: from the phone's queue into the folder, with the counters and lines the views show.

#include "tests/transfer/WireSupport.h"

#include <QTimer>

namespace {

const QString waitingText = QStringLiteral("Bağlantı bekleniyor");

class SyncPassTest : public WireTest
{
protected:
    // Records every status line and pending count as the views would see them.
    void record()
    {
        QObject::connect(
            model.get(), &AppModel::statusChanged, model.get(), [this] { statuses.append(model->status()); });
        QObject::connect(model.get(), &AppModel::pendingCountChanged, model.get(),
            [this] { pending.append(model->pendingCount()); });
    }

    std::vector<std::string> signedPaths()
    {
        std::vector<std::string> paths;
        for (const auto &request : requestsTo("POST", "/storage/v1/object/sign/"))
            paths.push_back(request.path);
        return paths;
    }

    QStringList statuses;
    QList<int> pending;
};

TEST_F(SyncPassTest, OnePassSavesEveryWaitingDocumentOldestFirst)
{
    sync(); // pairs silently and finds nothing yet
    ASSERT_TRUE(model->pairing());
    EXPECT_EQ(model->status(), QStringLiteral("Yeni evrak bekleniyor"));
    EXPECT_EQ(model->lastSync(), services.clock.now());
    const std::string computer = cloud.claimPairing(model->pairing()->code.toStdString()).computerId;

    cloud.sendDocument(computer, "Fiş 1.pdf", testPdf.toStdString());
    cloud.sendDocument(computer, "makbuz", testJpeg.toStdString());
    cloud.sendDocument(computer, "klasör/ekran.jpg", testJpeg.toStdString() + "2");
    // Left behind by a download that a kill ended; the pass clears it away.
    QFile abandoned(QDir(folder.path()).filePath(QStringLiteral(".tarvolin-Q1w2E3.part")));
    ASSERT_TRUE(abandoned.open(QIODevice::WriteOnly));
    ASSERT_TRUE(abandoned.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)); // as made
    abandoned.close();
    record();
    services.clock.current = services.clock.current.addSecs(3600);
    sync();

    EXPECT_EQ(statuses,
        QStringList({QStringLiteral("1/3 evrak indiriliyor…"), QStringLiteral("2/3 evrak indiriliyor…"),
            QStringLiteral("3/3 evrak indiriliyor…"), QStringLiteral("Tüm evraklar indirildi")}));
    EXPECT_EQ(pending, QList<int>({3, 2, 1, 0}));
    EXPECT_EQ(model->downloadedToday(), 3);
    EXPECT_EQ(model->lastSync(), services.clock.now());
    EXPECT_FALSE(model->lastError());
    EXPECT_FALSE(model->isWorking());
    EXPECT_EQ(entries(),
        QStringList(
            {QStringLiteral("Fiş 1.pdf"), QStringLiteral("klasör_ekran.jpg"), QStringLiteral("makbuz.jpg")}));
    for (const auto &row : cloud.rows())
        EXPECT_EQ(row.status, "downloaded");
    EXPECT_TRUE(cloud.objects().empty());

    // The listing asks for this computer's pending rows only, oldest first.
    const auto listings = requestsTo("GET", "/rest/v1/transfer_items");
    ASSERT_FALSE(listings.empty());
    EXPECT_EQ(listings.back().path,
        "/rest/v1/transfer_items?computer_id=eq." + computer
            + "&status=eq.pending&select=id,storage_path,original_filename"
              "&order=created_at.asc,id.asc&limit=500");
}

TEST_F(SyncPassTest, AFailingBackendEndsThePassAndTheDocumentIsTriedFirstNextTime)
{
    const std::string computer = pairPhone();
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    const auto second = cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    cloud.sendDocument(computer, "uc.pdf", testPdf.toStdString() + "3");
    cloud.injectFault({LocalCloud::FaultKind::Status,
        "/storage/v1/object/sign/expenses/" + second.storagePath, "POST", 500, R"({"message":"boom"})"});

    sync();
    EXPECT_EQ(model->downloadedToday(), 1);
    EXPECT_EQ(model->pendingCount(), 2);
    EXPECT_FALSE(model->lastSync());
    EXPECT_EQ(model->status(), waitingText);
    EXPECT_EQ(model->lastError(), QStringLiteral("boom"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("bir.pdf")});
    // What was saved before the failure is still announced.
    ASSERT_EQ(services.notifier.shown.size(), 1);
    EXPECT_EQ(services.notifier.shown[0].title, QStringLiteral("1 evrak indirildi"));
    EXPECT_EQ(services.notifier.shown[0].body, QStringLiteral("bir.pdf"));

    cloud.clearLog();
    sync();
    const auto signedNow = signedPaths();
    ASSERT_EQ(signedNow.size(), 2u);
    EXPECT_EQ(signedNow[0], "/storage/v1/object/sign/expenses/" + second.storagePath);
    EXPECT_EQ(model->downloadedToday(), 3);
    EXPECT_EQ(model->pendingCount(), 0);
    EXPECT_FALSE(model->lastError());
    EXPECT_EQ(entries().size(), 3);

    // Today's count starts again on a new day.
    services.clock.current = services.clock.current.addDays(1);
    sync();
    EXPECT_EQ(model->downloadedToday(), 0);
    cloud.sendDocument(computer, "dort.pdf", testPdf.toStdString() + "4");
    sync();
    EXPECT_EQ(model->downloadedToday(), 1);
}

TEST_F(SyncPassTest, ARefusedDocumentIsPassedOverAndFetchedAgainOnlyAfterAnHour)
{
    const std::string computer = pairPhone();
    const QByteArray png = QByteArrayLiteral("\x89PNG\r\n\x1a\n not a receipt format");
    const auto photo = cloud.sendDocument(computer, "foto.png", png.toStdString());
    const auto gone = cloud.sendDocument(computer, "kayip.pdf", testPdf.toStdString() + "gone");
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    // The storage's answer for an object that is not there.
    LocalCloud::Fault missing{LocalCloud::FaultKind::Status,
        "/storage/v1/object/sign/expenses/" + gone.storagePath, "POST", 400,
        R"({"statusCode":"404","error":"not_found","message":"Object not found"})"};
    missing.times = 2;
    cloud.injectFault(missing);

    for (int pass = 0; pass < 2; ++pass) {
        sync();
        EXPECT_EQ(entries(), QStringList({QStringLiteral("bir.pdf"), QStringLiteral("iki.pdf")}));
        EXPECT_EQ(model->pendingCount(), 2);
        EXPECT_EQ(model->status(), QStringLiteral("2 evrak kaydedilemedi"));
        EXPECT_EQ(model->lastError(),
            QStringLiteral("2 evrak kaydedilemedi. İlki “foto.png”: dosya PDF ya da JPEG değil."));
    }
    EXPECT_EQ(model->downloadedToday(), 2);
    EXPECT_EQ(rowWithId(photo.id).status, "pending");
    EXPECT_EQ(rowWithId(gone.id).status, "pending");
    EXPECT_EQ(cloud.objects().size(), 2u);
    EXPECT_TRUE(requestsTo("PATCH", "/rest/v1/transfer_items?id=eq." + photo.id).empty());
    const std::string photoLink = "/storage/v1/object/sign/expenses/" + photo.storagePath;
    EXPECT_EQ(requestsTo("GET", photoLink).size(), 1u);

    // The object is back: collected; the photo alone is left, named, and fetched again an hour on.
    sync();
    EXPECT_EQ(rowWithId(gone.id).status, "downloaded");
    EXPECT_EQ(model->pendingCount(), 1);
    EXPECT_EQ(model->lastError(), QStringLiteral("“foto.png” kaydedilemedi: dosya PDF ya da JPEG değil."));
    EXPECT_EQ(requestsTo("GET", photoLink).size(), 1u);
    services.clock.current = services.clock.current.addSecs(3600);
    sync();
    EXPECT_EQ(requestsTo("GET", photoLink).size(), 2u);
    EXPECT_EQ(model->lastError(), QStringLiteral("“foto.png” kaydedilemedi: dosya PDF ya da JPEG değil."));
}

// One bad link holds back nothing: the newer document is saved, the failing row stays pending and is
// named, and it is collected once its link heals, at the next pass or, if the same bytes would be
// refused again, an hour later.
TEST_F(SyncPassTest, AFailingLinkEndsOnlyItsOwnDocument)
{
    const std::string computer = pairPhone();
    struct Case {
        LocalCloud::Fault fault;
        QString reason;
        bool heldForAnHour;
    };
    LocalCloud::Fault trickle{LocalCloud::FaultKind::Trickle, {}, "GET"};
    trickle.intervalMs = 200;
    const std::vector<Case> cases = {
        {{LocalCloud::FaultKind::Endless, {}, "GET"}, QStringLiteral("dosya 256 MB sınırını aşıyor."), true},
        {trickle, QStringLiteral("bağlantı çok yavaş."), false},
        {{LocalCloud::FaultKind::Status, {}, "GET", 200, "GIF89a not a receipt"},
            QStringLiteral("dosya PDF ya da JPEG değil."), true},
        {{LocalCloud::FaultKind::Status, {}, "GET", 503, R"({"message":"Service Unavailable"})"},
            QStringLiteral("dosya buluttan indirilemedi."), false},
    };
    // The clock runs 100 times faster than the passes, so a trickle is judged within a second.
    QTimer fast;
    QObject::connect(
        &fast, &QTimer::timeout, [this] { services.clock.current = services.clock.current.addMSecs(10000); });
    fast.start(100);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        const std::string n = std::to_string(i);
        SCOPED_TRACE(c.reason.toStdString());
        const auto bad = cloud.sendDocument(computer, "kotu" + n + ".pdf", testPdf.toStdString() + n);
        const auto good = cloud.sendDocument(computer, "iyi" + n + ".pdf", testPdf.toStdString() + "iyi" + n);
        LocalCloud::Fault fault = c.fault;
        fault.path = "/storage/v1/object/sign/expenses/" + bad.storagePath;
        cloud.injectFault(fault);
        sync();
        EXPECT_EQ(rowWithId(good.id).status, "downloaded");
        EXPECT_EQ(rowWithId(bad.id).status, "pending");
        EXPECT_EQ(model->lastError(), qs("“kotu" + n + ".pdf” kaydedilemedi: ") + c.reason);
        EXPECT_FALSE(entries().contains(qs("kotu" + n + ".pdf")));
        EXPECT_FALSE(entries().join(u',').contains(QStringLiteral(".part")));

        cloud.clearFaults();
        sync();
        EXPECT_EQ(rowWithId(bad.id).status, c.heldForAnHour ? "pending" : "downloaded");
        services.clock.current = services.clock.current.addSecs(3600);
        sync();
        EXPECT_EQ(rowWithId(bad.id).status, "downloaded");
        EXPECT_EQ(contents(qs("kotu" + n + ".pdf")), testPdf + QByteArray::fromStdString(n));
    }
}

TEST_F(SyncPassTest, RowsLeftPendingNeverHideNewerOnes)
{
    const std::string computer = pairPhone();
    // A full listing of rows whose objects are gone, then one good document.
    for (int i = 0; i < 500; ++i)
        cloud.enqueueRaw(
            {computer, "gone/" + std::to_string(i), "kayip.pdf", {}, {}, "2026-01-01T10:00:00Z"});
    const auto newest = cloud.sendDocument(computer, "yeni.pdf", testPdf.toStdString());
    cloud.clearLog();
    sync();
    EXPECT_EQ(rowWithId(newest.id).status, "downloaded");
    const auto listings = requestsTo("GET", "/rest/v1/transfer_items");
    ASSERT_EQ(listings.size(), 2u);
    EXPECT_EQ(listings[1].path.substr(listings[1].path.size() - 11), "&offset=500");
    EXPECT_EQ(model->pendingCount(), 500);
    EXPECT_EQ(model->lastError(),
        QStringLiteral("500 evrak kaydedilemedi. İlki “kayip.pdf”: dosya bulutta bulunamadı."));
}

// A cloud copy whose removal failed after its row was marked downloaded is no longer offered by any
// listing: it is remembered across restarts and removed by a later pass.
TEST_F(SyncPassTest, AFailedCleanUpIsDoneByALaterPassAfterARestart)
{
    const std::string computer = pairPhone();
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    // The document's own clean-up gets a success that lists nothing removed, the retry at the end of
    // the pass a refusal.
    cloud.injectFault({LocalCloud::FaultKind::Malformed, "/storage/v1/object/expenses", "DELETE"});
    cloud.injectFault({LocalCloud::FaultKind::Status, "/storage/v1/object/expenses", "DELETE", 503});
    sync();
    EXPECT_EQ(cloud.rows().front().status, "downloaded");
    EXPECT_EQ(cloud.objects().size(), 1u);
    EXPECT_FALSE(model->lastError());

    restart();
    sync();
    EXPECT_TRUE(cloud.objects().empty());
    EXPECT_TRUE(services.settings.values.value(QStringLiteral("pendingCleanups")).toByteArray().isEmpty());
    cloud.clearLog();
    sync();
    EXPECT_TRUE(requestsTo("DELETE", "/storage/").empty());
}

TEST_F(SyncPassTest, SavingTheSettingsAfterWaitingForThemStartsThePasses)
{
    AppModel waiting(services.services(), testBuildValues());
    waiting.start();
    ASSERT_TRUE(waitUntil([&] { return waiting.showingCloudSettings(); }));
    EXPECT_EQ(waiting.status(), QStringLiteral("Bulut ayarları bekleniyor"));

    waiting.setSupabaseURL(qs(cloud.baseUrl()));
    waiting.setAnonKey(qs(cloud.anonKey()));
    waiting.saveCloudSettings();
    ASSERT_TRUE(waitUntil([&] { return waiting.lastSync().has_value(); })) << waiting.status().toStdString();
    EXPECT_EQ(waiting.status(), QStringLiteral("Yeni evrak bekleniyor"));
    EXPECT_EQ(requestsTo("POST", "/auth/v1/signup").size(), 1u);
    waiting.saveCloudSettings(); // a running loop is not started twice
    QCoro::waitFor(waiting.syncNow());
    EXPECT_EQ(requestsTo("POST", "/auth/v1/signup").size(), 1u);
    waiting.stop();
}

TEST_F(SyncPassTest, PassesThatMustNotRunSendNothing)
{
    // No folder access: refused before any request.
    TestServices other(QtHttpClient::loadAuthorities(qs(cloud.caCertPath())));
    AppModel unplaced(other.services(), testBuildValues(qs(cloud.baseUrl()), qs(cloud.anonKey())));
    QCoro::waitFor(unplaced.syncNow());
    EXPECT_EQ(unplaced.lastError(), QStringLiteral("Evrakların kaydedileceği klasörü seçmeniz gerekiyor."));
    EXPECT_EQ(unplaced.status(), waitingText);
    EXPECT_TRUE(cloud.requestLog().empty());

    // Not configured: nothing at all.
    AppModel unconfigured(other.services(), testBuildValues());
    const QString statusBefore = unconfigured.status();
    QCoro::waitFor(unconfigured.syncNow());
    EXPECT_EQ(unconfigured.status(), statusBefore);
    EXPECT_TRUE(cloud.requestLog().empty());

    // A silent pairing that fails: no listing without it.
    cloud.injectFault({LocalCloud::FaultKind::Status, "/functions/v1/create-pairing", "POST", 500,
        R"({"message":"pairing down"})"});
    sync();
    EXPECT_FALSE(model->pairing());
    EXPECT_EQ(model->lastError(), QStringLiteral("Sunucudan geçersiz yanıt alındı."));
    EXPECT_EQ(model->status(), waitingText);
    EXPECT_TRUE(requestsTo("GET", "/rest/").empty());

    // A second pass while one runs changes nothing, and no document is fetched twice.
    const std::string computer = pairPhone();
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    cloud.clearLog();
    auto running = model->syncNow();
    ASSERT_TRUE(model->isWorking());
    record();
    auto second = model->syncNow();
    EXPECT_TRUE(second.isReady());
    EXPECT_TRUE(statuses.isEmpty());
    QCoro::waitFor(running);
    EXPECT_EQ(signedPaths().size(), 2u);
    EXPECT_EQ(model->downloadedToday(), 2);
    EXPECT_FALSE(model->isWorking());
}

} // namespace
