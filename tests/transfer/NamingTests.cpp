// Which bytes may be saved, where a document goes, and which links are followed. The names
// themselves are proven by the hostile table through a real pass and by the naming fuzzer.

#include "core/CompanionError.h"
#include "transfer/DocumentNaming.h"
#include "transfer/FileNaming.h"
#include "transfer/SignedLink.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QByteArray pdfBytes = QByteArrayLiteral("%PDF-1.7\n% test document\n");

TEST(FileNaming, StoragePathsAreEscapedPieceByPiece)
{
    EXPECT_EQ(FileNaming::escapedStoragePath(QStringLiteral("u/a?b#c;d.pdf")),
        QStringLiteral("u/a%3Fb%23c%3Bd.pdf"));
}

// The wire tests see the ordinary kinds; these are the edges of the leading-bytes check.
TEST(DocumentValidation, LeadingBytesMustMatchTheKindTheNamePromises)
{
    const auto accepted = [](const QByteArray &bytes, const char *name) {
        try {
            validateDocument(bytes, QString::fromUtf8(name));
            return true;
        } catch (const CompanionError &) {
            return false;
        }
    };
    EXPECT_TRUE(accepted(pdfBytes, "FATURA.PDF"));
    EXPECT_TRUE(accepted(QByteArrayLiteral("\xFF\xD8\xFF\xE0"), "ekran.png"));
    EXPECT_TRUE(accepted(QByteArrayLiteral("%PDF-"), "fatura.pdf"));
    EXPECT_FALSE(accepted(QByteArrayLiteral("%PDF"), "fatura.pdf"));
    EXPECT_FALSE(accepted(QByteArrayLiteral("\xFF\xD8"), "foto.jpg"));
    EXPECT_FALSE(accepted(QByteArray(), "foto.jpg"));
}

TEST(Destination, DifferentDocumentsAreNumberedAndRepeatsAreRecognised)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto put = [&](const QString &name, const QByteArray &bytes) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    };
    const auto choose = [&](const QByteArray &bytes) {
        return uniqueDestination(folder.path(), QStringLiteral("fatura.pdf"),
            {bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)});
    };
    const QByteArray second = pdfBytes + "second";
    const QByteArray third = pdfBytes + "third!";
    put(QStringLiteral("fatura.pdf"), pdfBytes);
    put(QStringLiteral("fatura_2.pdf"), second);

    // Same size as the second document, different bytes: it must not pass for a copy.
    EXPECT_EQ(choose(third).path, folder.filePath(QStringLiteral("fatura_3.pdf")));
    EXPECT_FALSE(choose(third).identicalExists);
    const auto secondAgain = choose(second);
    EXPECT_EQ(secondAgain.path, folder.filePath(QStringLiteral("fatura_2.pdf")));
    EXPECT_TRUE(secondAgain.identicalExists);

    // A gap is filled by the next different document.
    put(QStringLiteral("fatura_3.pdf"), third);
    ASSERT_TRUE(QFile::remove(folder.filePath(QStringLiteral("fatura_2.pdf"))));
    EXPECT_EQ(choose(pdfBytes + "fourth").path, folder.filePath(QStringLiteral("fatura_2.pdf")));
}

// Plain http can be read and changed on the way: followed only to this machine, the local backend.
TEST(SignedLinks, PlainHttpIsFollowedOnlyOnThisMachine)
{
    const QString backend = QStringLiteral("https://abc.example.co");
    for (const char *link : {"https://cdn.example.com/x.pdf", "http://127.0.0.1:5400/x.pdf",
             "http://localhost/x.pdf", "http://[::1]/x.pdf", "/object/sign/expenses/x.pdf"})
        EXPECT_NO_THROW(downloadAddress(QString::fromLatin1(link), backend)) << link;
    for (const char *link :
        {"http://cdn.example.com/x.pdf", "http://10.0.0.1/x.pdf", "http://127.0.0.1.example.com/x.pdf"})
        EXPECT_THROW(downloadAddress(QString::fromLatin1(link), backend), CompanionError) << link;
    EXPECT_THROW(downloadAddress(QStringLiteral("/object/x.pdf"), QStringLiteral("http://abc.example.co")),
        CompanionError);
}

} // namespace
