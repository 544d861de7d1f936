// One document from the bucket to the folder and back to the queue, at the wire.

#include "tests/transfer/WireSupport.h"

namespace {

const QString downloadFailed = QStringLiteral("Evrak indirilemedi.");
const std::string signPrefix = "/storage/v1/object/sign/expenses/";

class DownloadTest : public WireTest
{
protected:
    void SetUp() override
    {
        WireTest::SetUp();
        computerId = pairPhone();
        session = QCoro::waitFor(WireAccess::session(*model));
    }

    LocalCloud::Row enqueue(const std::string &path, const std::string &name, const QByteArray &bytes)
    {
        return cloud.enqueueRaw({computerId, path, name, bytes.toStdString(), {}, {}, "pending"});
    }

    static TransferItem itemOf(const LocalCloud::Row &row)
    {
        return {qs(row.id), qs(row.storagePath), qs(row.originalFilename)};
    }

    // Runs the download; the error's message, or nothing when it succeeded.
    std::optional<QString> download(const TransferItem &item)
    {
        return QCoro::waitFor(failureOf(WireAccess::download(*model, item, session)));
    }

    void answerSigningWith(const std::string &body)
    {
        cloud.injectFault({LocalCloud::FaultKind::Status, signPrefix, "POST", 200, body});
    }

    std::string computerId;
    CloudSession session;
};

TEST_F(DownloadTest, SignsEscapedPathsFetchesWithoutCredentialsAndAcknowledgesInOrder)
{
    struct Case {
        std::string storagePath, name, signedAt;
        QByteArray bytes;
    };
    const std::vector<Case> cases = {
        {"abc/Fiş 1.pdf", "Fiş 1.pdf", signPrefix + "abc/Fi%C5%9F%201.pdf", testPdf},
        {"/abc//x.jpg", "x.jpg", signPrefix + "abc/x.jpg", testJpeg},
        {"abc/100%.pdf", "yüzde.pdf", signPrefix + "abc/100%25.pdf", testPdf + "2"},
    };
    for (const Case &c : cases) {
        cloud.clearLog();
        const auto row = enqueue(c.storagePath, c.name, c.bytes);
        ASSERT_EQ(download(itemOf(row)), std::nullopt) << c.storagePath;

        const auto log = cloud.requestLog();
        ASSERT_EQ(log.size(), 4u) << c.storagePath;
        EXPECT_EQ(log[0].method, "POST");
        EXPECT_EQ(log[0].path, c.signedAt);
        EXPECT_EQ(jsonOf(log[0].body), QJsonObject({{QStringLiteral("expiresIn"), 120}}));
        EXPECT_EQ(log[1].method, "GET");
        EXPECT_FALSE(log[1].hasHeader("apikey"));
        EXPECT_FALSE(log[1].hasHeader("authorization"));

        EXPECT_EQ(log[2].method, "PATCH");
        EXPECT_EQ(log[2].path, "/rest/v1/transfer_items?id=eq." + row.id);
        EXPECT_EQ(log[2].header("prefer"), "return=minimal");
        const QJsonObject acknowledgement = jsonOf(log[2].body);
        EXPECT_EQ(acknowledgement.value(QStringLiteral("status")).toString(), QStringLiteral("downloaded"));
        EXPECT_EQ(acknowledgement.value(QStringLiteral("completed_at")).toString(),
            QStringLiteral("2026-03-01T09:00:00Z"));
        EXPECT_EQ(acknowledgement.value(QStringLiteral("downloaded_filename")).toString(), qs(c.name));

        EXPECT_EQ(log[3].method, "DELETE");
        EXPECT_EQ(log[3].path, "/storage/v1/object/expenses");
        EXPECT_EQ(
            jsonOf(log[3].body), QJsonObject({{QStringLiteral("prefixes"), QJsonArray{qs(c.storagePath)}}}));

        EXPECT_EQ(contents(qs(c.name)), c.bytes);
        EXPECT_EQ(rowWithId(row.id).status, "downloaded");
    }
    EXPECT_TRUE(cloud.objects().empty());

    // A row id is one value of the filter, never more of the query.
    const auto row = enqueue("abc/kimlik.pdf", "kimlik.pdf", testPdf + "id");
    TransferItem hostile = itemOf(row);
    hostile.id += QStringLiteral("&status=eq.pending");
    cloud.clearLog();
    EXPECT_TRUE(download(hostile).has_value());
    const auto patches = requestsTo("PATCH", "/rest/");
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(patches[0].path, "/rest/v1/transfer_items?id=eq." + row.id + "%26status%3Deq.pending");
    EXPECT_EQ(rowWithId(row.id).status, "pending");
}

TEST_F(DownloadTest, SigningAnswersDecideTheLinkAndOnlyWebLinksAreFetched)
{
    const auto row = enqueue("abc/fatura.pdf", "fatura.pdf", testPdf);
    const TransferItem item = itemOf(row);
    struct Case {
        std::string answer;
        std::optional<QString> error;
        std::string fetchedAt; // empty: nothing fetched
    };
    const std::vector<Case> cases = {
        {R"({"signedURL":null,"signedUrl":"/object/sign/expenses/abc/fatura.pdf"})",
            QStringLiteral("Sunucudan geçersiz yanıt alındı."), ""},
        {R"({"signedUrl":"/object/sign/expenses/yok.pdf?token=t"})", downloadFailed,
            signPrefix + "yok.pdf?token=t"},
        {R"({"signedURL":")" + cloud.baseUrl() + R"(/storage/v1/object/sign/expenses/mutlak.pdf?token=u"})",
            downloadFailed, signPrefix + "mutlak.pdf?token=u"},
        {R"({"signedURL":"file:///etc/hostname"})", downloadFailed, ""},
        {R"({"signedURL":"ftp://127.0.0.1/x.pdf"})", downloadFailed, ""},
        {R"(["/object/sign/expenses/x"])", QStringLiteral("Sunucudan geçersiz yanıt alındı."), ""},
        {R"({"signedURL":42})", QStringLiteral("Sunucudan geçersiz yanıt alındı."), ""},
    };
    for (const Case &c : cases) {
        cloud.clearLog();
        answerSigningWith(c.answer);
        EXPECT_EQ(download(item), c.error) << c.answer;
        const auto fetches = requestsTo("GET", "/storage/");
        if (c.fetchedAt.empty()) {
            EXPECT_TRUE(fetches.empty()) << c.answer;
        } else {
            ASSERT_EQ(fetches.size(), 1u) << c.answer;
            EXPECT_EQ(fetches[0].path, c.fetchedAt);
        }
        EXPECT_TRUE(requestsTo("PATCH", "/rest/").empty());
    }
    answerSigningWith("<html>Bad Gateway</html>");
    EXPECT_TRUE(
        download(item).value_or(QString()).startsWith(QStringLiteral("Sunucunun yanıtı okunamadı: ")));
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(rowWithId(row.id).status, "pending");
}

TEST_F(DownloadTest, FailedFetchesLeaveNothingBehind)
{
    const auto row = enqueue("abc/rapor.pdf", "rapor.pdf", testPdf + QByteArray(256 * 1024, 'x'));
    cloud.injectFault(
        {LocalCloud::FaultKind::Status, signPrefix, "GET", 404, R"({"message":"Object not found"})"});
    EXPECT_EQ(download(itemOf(row)), downloadFailed);

    cloud.injectFault({LocalCloud::FaultKind::Truncate, signPrefix, "GET"});
    EXPECT_TRUE(download(itemOf(row)).has_value());

    // Qt quietly resends a GET up to three times when its connection closes, so the drop must persist.
    LocalCloud::Fault drop{LocalCloud::FaultKind::Drop, signPrefix + "abc/rapor.pdf", "GET"};
    drop.times = 10;
    cloud.injectFault(drop);
    EXPECT_TRUE(download(itemOf(row)).has_value());

    EXPECT_TRUE(entries().isEmpty()) << entries().join(u',').toStdString();
    EXPECT_EQ(rowWithId(row.id).status, "pending");
    EXPECT_EQ(cloud.objects().size(), 1u);
}

TEST_F(DownloadTest, RepeatsAreAcknowledgedUnderTheSavedNameAndOthersAreNumbered)
{
    const auto first = enqueue("abc/fatura.pdf", "fatura.pdf", testPdf);
    // Refused, or answered 200 with a body nobody asked for and the row untouched: the file stays, and
    // so does the cloud copy, which the next pass needs to recognise the saved file.
    const std::vector<LocalCloud::Fault> unconfirmed = {
        {LocalCloud::FaultKind::Status, "/rest/v1/transfer_items", "PATCH", 500, R"({"message":"boom"})"},
        {LocalCloud::FaultKind::Malformed, "/rest/v1/transfer_items", "PATCH"},
    };
    for (const LocalCloud::Fault &fault : unconfirmed) {
        cloud.clearLog();
        cloud.injectFault(fault);
        EXPECT_TRUE(download(itemOf(first)).has_value());
        EXPECT_EQ(entries(), QStringList{QStringLiteral("fatura.pdf")});
        EXPECT_EQ(rowWithId(first.id).status, "pending");
        EXPECT_TRUE(requestsTo("DELETE", "/storage/").empty());
        EXPECT_EQ(cloud.objects().size(), 1u);
    }

    // Offered again: one file, acknowledged under its existing name.
    EXPECT_EQ(download(itemOf(first)), std::nullopt);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("fatura.pdf")});
    EXPECT_EQ(rowWithId(first.id).downloadedFilename, "fatura.pdf");

    // A different document under the same name, and a cleanup the server refuses.
    const auto second = enqueue("abc/fatura-2.pdf", "fatura.pdf", testPdf + "other");
    cloud.injectFault({LocalCloud::FaultKind::Status, "/storage/v1/object/expenses", "DELETE", 500});
    EXPECT_EQ(download(itemOf(second)), std::nullopt);
    EXPECT_EQ(entries(), QStringList({QStringLiteral("fatura.pdf"), QStringLiteral("fatura_2.pdf")}));
    EXPECT_EQ(contents(QStringLiteral("fatura_2.pdf")), testPdf + "other");
    const auto acknowledged = rowWithId(second.id);
    EXPECT_EQ(acknowledged.status, "downloaded");
    EXPECT_EQ(acknowledged.downloadedFilename, "fatura_2.pdf");
    EXPECT_EQ(cloud.objects().size(), 1u);
}

} // namespace
