// How names from the phone become files in the target folder, and which bytes may be saved.

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
const QByteArray jpegBytes = QByteArrayLiteral("\xFF\xD8\xFF\xE0 test photo");

DocumentDigest digestOf(const QByteArray &bytes)
{
    return {bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)};
}

QString savedName(const QString &original)
{
    return FileNaming::candidateName(FileNaming::splitName(FileNaming::cleanName(original)), 1);
}

TEST(FileNaming, NamesFromThePhoneBecomeOneSafeFileName)
{
    struct Case {
        QString original, saved;
    };
    // The hostile names have their own table, saved through a real pass; these are the ordinary rules.
    const QList<Case> cases = {
        {QStringLiteral("fatura.pdf"), QStringLiteral("fatura.pdf")},
        {QStringLiteral("makbuz"), QStringLiteral("makbuz.jpg")},
        {QStringLiteral("RAPOR.PDF"), QStringLiteral("RAPOR.PDF")},
        {QStringLiteral(" boşluk .jpg "), QStringLiteral(" boşluk .jpg ")},
        {QStringLiteral("scan."), QStringLiteral("scan.jpg")},
        {QStringLiteral("x") + QChar(0xD800) + QStringLiteral("y.pdf"), QStringLiteral("x_y.pdf")},
        {QString::fromUtf8("x\0y.pdf", 7), QStringLiteral("x_y.pdf")},
        {QStringLiteral("Ağaç 🌳 Ünlü.jpeg"), QStringLiteral("Ağaç 🌳 Ünlü.jpeg")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(savedName(c.original), c.saved) << c.original.toStdString();
    EXPECT_EQ(FileNaming::candidateName(FileNaming::splitName(QStringLiteral("rapor.pdf")), 13),
              QStringLiteral("rapor_13.pdf"));
}

TEST(FileNaming, OverlongNamesAreShortenedKeepingExtensionAndNumber)
{
    const QString longBase = QString(100, u'ş') + QString(100, u'a'); // 300 bytes of UTF-8
    const auto parts = FileNaming::splitName(longBase + QStringLiteral(".pdf"));
    QStringList seen;
    for (int number : {1, 2, 10, 123456}) {
        const QString name = FileNaming::candidateName(parts, number);
        EXPECT_LE(name.toUtf8().size(), FileNaming::maxNameBytes);
        EXPECT_TRUE(name.endsWith(number == 1 ? QStringLiteral(".pdf") : QStringLiteral("_%1.pdf").arg(number)));
        EXPECT_TRUE(longBase.startsWith(name.section(u'.', 0, 0).section(u'_', 0, 0)));
        EXPECT_FALSE(seen.contains(name));
        seen.append(name);
    }
}

TEST(FileNaming, StoragePathsAreEscapedPieceByPiece)
{
    EXPECT_EQ(FileNaming::escapedStoragePath(QStringLiteral("u/a?b#c;d.pdf")), QStringLiteral("u/a%3Fb%23c%3Bd.pdf"));
    EXPECT_EQ(FileNaming::escapedStoragePath(QStringLiteral("u/-._~!$&'()*+,=:@.jpg")),
              QStringLiteral("u/-._~!$&'()*+,=:@.jpg"));
}

TEST(DocumentValidation, LeadingBytesMustMatchTheKindTheNamePromises)
{
    struct Case {
        QByteArray bytes;
        QString name;
        bool accepted;
    };
    const QList<Case> cases = {
        {pdfBytes, QStringLiteral("fatura.pdf"), true},
        {pdfBytes, QStringLiteral("FATURA.PDF"), true},
        {jpegBytes, QStringLiteral("foto.jpg"), true},
        {jpegBytes, QStringLiteral("makbuz"), true},
        {jpegBytes, QStringLiteral("ekran.png"), true},
        {QByteArrayLiteral("\x89PNG\r\n\x1a\n"), QStringLiteral("ekran.png"), false},
        {pdfBytes, QStringLiteral("foto.jpg"), false},
        {jpegBytes, QStringLiteral("fatura.pdf"), false},
        {QByteArray(), QStringLiteral("foto.jpg"), false},
        {QByteArrayLiteral("\xFF\xD8"), QStringLiteral("foto.jpg"), false},
        {QByteArrayLiteral("%PDF"), QStringLiteral("fatura.pdf"), false},
        {QByteArrayLiteral("%PDF-"), QStringLiteral("fatura.pdf"), true},
    };
    for (const Case &c : cases) {
        QString refusal;
        try {
            validateDocument(c.bytes, c.name);
        } catch (const CompanionError &error) {
            refusal = error.message();
        }
        EXPECT_EQ(refusal, c.accepted ? QString() : QStringLiteral("İndirilen evrak doğrulanamadı; dosya kaydedilmedi."))
            << c.name.toStdString();
    }
}

class DestinationTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    void put(const QString &name, const QByteArray &bytes)
    {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    Destination choose(const QString &name, const QByteArray &bytes)
    {
        return uniqueDestination(folder.path(), name, digestOf(bytes));
    }

    QTemporaryDir folder;
};

TEST_F(DestinationTest, DifferentDocumentsAreNumberedAndRepeatsAreRecognised)
{
    const QByteArray second = pdfBytes + "second";
    const QByteArray third = pdfBytes + "third!";

    EXPECT_EQ(choose(QStringLiteral("fatura.pdf"), pdfBytes).path, folder.filePath(QStringLiteral("fatura.pdf")));
    put(QStringLiteral("fatura.pdf"), pdfBytes);

    const auto again = choose(QStringLiteral("fatura.pdf"), pdfBytes);
    EXPECT_EQ(again.path, folder.filePath(QStringLiteral("fatura.pdf")));
    EXPECT_TRUE(again.identicalExists);

    const auto numbered = choose(QStringLiteral("fatura.pdf"), second);
    EXPECT_EQ(numbered.path, folder.filePath(QStringLiteral("fatura_2.pdf")));
    EXPECT_FALSE(numbered.identicalExists);
    put(QStringLiteral("fatura_2.pdf"), second);

    // Same size as the second document, different bytes: it must not pass for a copy.
    EXPECT_EQ(choose(QStringLiteral("fatura.pdf"), third).path, folder.filePath(QStringLiteral("fatura_3.pdf")));
    const auto secondAgain = choose(QStringLiteral("fatura.pdf"), second);
    EXPECT_EQ(secondAgain.path, folder.filePath(QStringLiteral("fatura_2.pdf")));
    EXPECT_TRUE(secondAgain.identicalExists);

    // A gap is filled by the next different document.
    put(QStringLiteral("fatura_3.pdf"), third);
    ASSERT_TRUE(QFile::remove(folder.filePath(QStringLiteral("fatura_2.pdf"))));
    EXPECT_EQ(choose(QStringLiteral("fatura.pdf"), pdfBytes + "fourth").path,
              folder.filePath(QStringLiteral("fatura_2.pdf")));
}

// Plain http can be read and changed on the way: followed only to this machine, the local backend.
TEST(SignedLinks, PlainHttpIsFollowedOnlyOnThisMachine)
{
    const QString backend = QStringLiteral("https://abc.example.co");
    for (const char *link : {"https://cdn.example.com/x.pdf", "http://127.0.0.1:5400/x.pdf", "http://localhost/x.pdf",
                             "http://[::1]/x.pdf", "/object/sign/expenses/x.pdf"})
        EXPECT_NO_THROW(downloadAddress(QString::fromLatin1(link), backend)) << link;
    for (const char *link : {"http://cdn.example.com/x.pdf", "http://10.0.0.1/x.pdf", "http://127.0.0.1.example.com/x.pdf"})
        EXPECT_THROW(downloadAddress(QString::fromLatin1(link), backend), CompanionError) << link;
    EXPECT_THROW(downloadAddress(QStringLiteral("/object/x.pdf"), QStringLiteral("http://abc.example.co")), CompanionError);
}

} // namespace
