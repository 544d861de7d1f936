// Document digests decide whether a file is already saved, so the fast hash must agree with the
// standard one byte for byte, however the bytes arrive.

#include "core/Sha256.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

TEST(Sha256, MatchesTheStandardDigestWhateverTheChunking)
{
    Sha256 abc;
    abc.addData(QByteArrayView("abc"));
    EXPECT_EQ(abc.result().toHex(), QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));

    QRandomGenerator random(20261206);
    for (int round = 0; round < 50; ++round) {
        QByteArray bytes(int(random.bounded(300000)), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        Sha256 hash;
        qsizetype offset = 0;
        while (offset < bytes.size()) {
            const qsizetype chunk = std::min<qsizetype>(bytes.size() - offset, random.bounded(70000) + 1);
            hash.addData(QByteArrayView(bytes.constData() + offset, chunk));
            offset += chunk;
        }
        const QByteArray expected = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        EXPECT_EQ(hash.result(), expected) << "round " << round << ", " << bytes.size() << " bytes";
        // Reading the result leaves the hash open for more.
        hash.addData(QByteArrayView("x"));
        EXPECT_EQ(hash.result(), QCryptographicHash::hash(bytes + "x", QCryptographicHash::Sha256));

        QBuffer device(&bytes);
        ASSERT_TRUE(device.open(QIODevice::ReadOnly));
        Sha256 fromDevice;
        ASSERT_TRUE(fromDevice.addData(&device));
        EXPECT_EQ(fromDevice.result(), expected);
    }
}

} // namespace
