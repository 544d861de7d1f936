// Names an attacker could put in the queue, and what already lies in the folder under them: every
// document lands inside the target folder under one safe name, or is refused with a message; nothing
// outside is touched and nothing already there is replaced or written through.

#include "tests/transfer/WireSupport.h"

#include <QFileInfo>

#include <sys/stat.h>

namespace {

class HostileNameTest : public WireTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        root = QDir(folder.path());
        ASSERT_TRUE(root.mkdir(QStringLiteral("target")) && root.mkdir(QStringLiteral("outside")));
        target = root.filePath(QStringLiteral("target"));
        services.settings.values.insert(QStringLiteral("targetFolderBookmark"), target.toUtf8());
        restart();
    }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    QString inTarget(const QString &name) const { return QDir(target).filePath(name); }
    QString outside(const QString &name) const { return root.filePath(QStringLiteral("outside/") + name); }

    QDir root;
    QString target;
};

struct NameCase {
    std::string name;
    QString saved; // empty: refused, the row stays pending
    bool pdf = true;
};

TEST_F(HostileNameTest, EveryHostileNameIsSavedInsideTheFolderOrRefused)
{
    sync();
    const std::string computer = cloud.claimPairing(model->pairing()->code.toStdString()).computerId;

    // What was in the folder before: links in and out, a pipe, a folder, two documents.
    const QByteArray secret = QByteArrayLiteral("%PDF-1.4 not yours");
    write(outside(QStringLiteral("gizli.pdf")), secret);
    ASSERT_TRUE(QFile::link(QStringLiteral("../outside/gizli.pdf"), inTarget(QStringLiteral("bağ.pdf"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("../outside/yok.pdf"), inTarget(QStringLiteral("kopuk.pdf"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("../outside"), inTarget(QStringLiteral("dizinbağı.jpg"))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(inTarget(QStringLiteral("boru.pdf"))).constData(), 0644), 0);
    ASSERT_TRUE(QDir(target).mkdir(QStringLiteral("klasör.pdf")));
    const QByteArray same = testPdf + "same";
    write(inTarget(QStringLiteral("aynı.pdf")), same);
    write(inTarget(QStringLiteral("başka.pdf")), testPdf + "theirs");
    const QStringList before = entries(target);
    struct stat sameBefore {
    };
    ASSERT_EQ(::stat(QFile::encodeName(inTarget(QStringLiteral("aynı.pdf"))).constData(), &sameBefore), 0);

    const std::string longTurkish = QStringLiteral("ş").repeated(500).toStdString();
    const std::string longTrees = QStringLiteral("🌳").repeated(250).toStdString();
    const QList<NameCase> cases = {
        // Traversal and separators.
        {"../x.pdf", QStringLiteral("_x.pdf")},
        {"../../../../etc/passwd", QStringLiteral("_.._.._.._etc_passwd"), false},
        {"..\\..\\y.pdf", QStringLiteral("_.._y.pdf")},
        {"./z.pdf", QStringLiteral("_z.pdf")},
        {"/kök.pdf", QStringLiteral("_kök.pdf")},
        {"/etc/cron.d/job", QStringLiteral("_etc_cron.d_job"), false},
        // Nothing but dots, or nothing at all: a plain word; a leading dot would hide the file.
        {".", QStringLiteral("evrak.jpg"), false},
        {"..", QStringLiteral("evrak_2.jpg"), false},
        {"...", QStringLiteral("evrak_3.jpg"), false},
        {"", QStringLiteral("evrak_4.jpg"), false},
        {".pdf", QStringLiteral("evrak.pdf")},
        {".gizli.pdf", QStringLiteral("gizli.pdf")},
        // Named like a download of ours: saved visibly, and the next pass's sweep leaves it be.
        {".tarvolin-Ab12Cd.part", QStringLiteral("tarvolin-Ab12Cd.part"), false},
        {"~/ev.pdf", QStringLiteral("~_ev.pdf")},
        {"a/b/c.pdf", QStringLiteral("a_b_c.pdf")},
        {"C:\\Users\\w.pdf", QStringLiteral("C__Users_w.pdf")},
        {"//server/share/s.pdf", QStringLiteral("__server_share_s.pdf")},
        {"/", QStringLiteral("_.jpg"), false},
        {"k1\\b.jpg", QStringLiteral("k1_b.jpg"), false},
        {"k2:b.jpg", QStringLiteral("k2_b.jpg"), false},
        // Control characters and marks that change how a name reads.
        {"s\nsatır.pdf", QStringLiteral("s_satır.pdf")},
        {"c\rr.pdf", QStringLiteral("c_r.pdf")},
        {"t\tab.pdf", QStringLiteral("t_ab.pdf")},
        {"\x1b[31mkırmızı.pdf", QStringLiteral("_[31mkırmızı.pdf")},
        {"d\x7f"
         "el.pdf",
            QStringLiteral("d_el.pdf")},
        {"n\u0085el.pdf", QStringLiteral("n_el.pdf")},
        {"\x01"
         "bir.pdf",
            QStringLiteral("_bir.pdf")},
        {"fatura\u202Efdp.exe", QStringLiteral("fatura_fdp.exe"), false},
        {"\u202Dsol.pdf", QStringLiteral("_sol.pdf")},
        {"iz\u2066ole\u2069.pdf", QStringLiteral("iz_ole_.pdf")},
        {"rlm\u200F.pdf", QStringLiteral("rlm_.pdf")},
        {"alm\u061C.jpg", QStringLiteral("alm_.jpg"), false},
        {"lrm\u200E.jpg", QStringLiteral("lrm_.jpg"), false},
        {"b\uFEFF"
         "om.pdf",
            QStringLiteral("b_om.pdf")},
        // Percent-escapes are text, never decoded, whatever they would decode to.
        {"%C3%28.pdf", QStringLiteral("%C3%28.pdf")},
        {"%FF%FE.pdf", QStringLiteral("%FF%FE.pdf")},
        {"%C0%AF.pdf", QStringLiteral("%C0%AF.pdf")},
        {"%2e%2e%2fp.pdf", QStringLiteral("%2e%2e%2fp.pdf")},
        {"%E2%80%AEfdp.exe", QStringLiteral("%E2%80%AEfdp.exe"), false},
        {"%00.pdf", QStringLiteral("%00.pdf")},
        // Composed and decomposed twins are one name: the second, another document, is numbered.
        {"Fiş.pdf", QStringLiteral("Fiş.pdf")},
        {"Fis\u0327.pdf", QStringLiteral("Fiş_2.pdf")},
        {"Ünlü.jpg", QStringLiteral("Ünlü.jpg"), false},
        {"U\u0308nlu\u0308.jpg", QStringLiteral("Ünlü_2.jpg"), false},
        // Trailing dots and spaces stay; only a missing extension becomes jpg.
        {"nokta.pdf.", QStringLiteral("nokta.pdf.jpg"), false},
        {"boşluk.pdf ", QStringLiteral("boşluk.pdf "), false},
        {"çok. . .", QStringLiteral("çok. . .jpg"), false},
        {"   ", QStringLiteral("   .jpg"), false},
        {"  .pdf", QStringLiteral("  .pdf")},
        // A thousand bytes: shortened to 255, the extension kept, a second long twin numbered.
        {longTurkish + ".pdf", QString(125, u'ş') + QStringLiteral(".pdf")},
        {longTurkish + "x.pdf", QString(124, u'ş') + QStringLiteral("_2.pdf")},
        {longTrees + ".jpg", QStringLiteral("🌳").repeated(62) + QStringLiteral(".jpg"), false},
        {"a." + std::string(1000, 'e'), QStringLiteral("a.") + QString(32, u'e'), false},
        // Names already taken in the folder.
        {"bağ.pdf", QStringLiteral("bağ_2.pdf")},
        {"kopuk.pdf", QStringLiteral("kopuk_2.pdf")},
        {"dizinbağı.jpg", QStringLiteral("dizinbağı_2.jpg"), false},
        {"boru.pdf", QStringLiteral("boru_2.pdf")},
        {"klasör.pdf", QStringLiteral("klasör_2.pdf")},
        {"başka.pdf", QStringLiteral("başka_2.pdf")},
        // Bytes that are not what the name promises.
        {"sahte.pdf", QString(), false},
        {"resim.jpg", QString(), true},
    };

    QList<std::string> ids;
    const auto bytesOf
        = [&](qsizetype i) { return (cases[i].pdf ? testPdf : testJpeg) + QByteArray::number(i); };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const QDateTime created(QDate(2026, 1, 1), QTime(10, 0).addSecs(int(i)), Qt::UTC);
        ids.append(cloud
                       .enqueueRaw({computer, "u/" + std::to_string(i) + ".bin", cases[i].name,
                           bytesOf(i).toStdString(), {}, created.toString(Qt::ISODate).toStdString()})
                       .id);
    }
    const std::string repeatId = cloud
                                     .enqueueRaw({computer, "u/same.bin", "aynı.pdf", same.toStdString(), {},
                                         "2026-01-01T11:00:00Z"})
                                     .id;
    services.clock.current = services.clock.current.addSecs(3600);
    sync();

    QStringList expected = before;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const NameCase &c = cases[i];
        SCOPED_TRACE(c.name);
        const LocalCloud::Row row = rowWithId(ids[i]);
        if (c.saved.isEmpty()) {
            EXPECT_EQ(row.status, "pending");
            continue;
        }
        expected.append(c.saved);
        EXPECT_EQ(row.status, "downloaded");
        EXPECT_EQ(qs(row.downloadedFilename.value_or("")), c.saved);
        EXPECT_EQ(contents(inTarget(c.saved)), bytesOf(i));
        EXPECT_LE(c.saved.toUtf8().size(), 255);
    }
    expected.sort();
    EXPECT_EQ(entries(target), expected); // no temporary file left, nothing under another name
    const mode_t mask = ::umask(022);
    ::umask(mask);
    for (const QString &name : entries(target)) {
        struct stat info {
        };
        if (!before.contains(name) && ::lstat(QFile::encodeName(inTarget(name)).constData(), &info) == 0) {
            EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask) << name.toStdString();
        }
    }
    sync(); // its sweep of abandoned downloads
    EXPECT_EQ(entries(target), expected);

    // The identical document is recognised, not written again.
    EXPECT_EQ(rowWithId(repeatId).downloadedFilename.value_or(""), "aynı.pdf");
    struct stat sameAfter {
    };
    ASSERT_EQ(::stat(QFile::encodeName(inTarget(QStringLiteral("aynı.pdf"))).constData(), &sameAfter), 0);
    EXPECT_EQ(sameAfter.st_ino, sameBefore.st_ino);
    EXPECT_EQ(sameAfter.st_mtim.tv_nsec, sameBefore.st_mtim.tv_nsec);

    // Nothing was written beside the folder or through what was in it.
    EXPECT_EQ(entries(root.path()), QStringList({QStringLiteral("outside"), QStringLiteral("target")}));
    EXPECT_EQ(entries(root.filePath(QStringLiteral("outside"))), QStringList({QStringLiteral("gizli.pdf")}));
    EXPECT_EQ(contents(outside(QStringLiteral("gizli.pdf"))), secret);
    EXPECT_EQ(
        QFileInfo(inTarget(QStringLiteral("bağ.pdf"))).symLinkTarget(), outside(QStringLiteral("gizli.pdf")));
    EXPECT_TRUE(entries(inTarget(QStringLiteral("klasör.pdf"))).isEmpty());
    EXPECT_EQ(contents(inTarget(QStringLiteral("başka.pdf"))), testPdf + "theirs");

    // The refusals are shown, naming the first.
    EXPECT_EQ(model->status(), QStringLiteral("2 evrak kaydedilemedi"));
    EXPECT_EQ(model->lastError(),
        QStringLiteral("2 evrak kaydedilemedi. İlki “sahte.pdf”: dosya PDF ya da JPEG değil."));
}

TEST_F(HostileNameTest, AFolderSwappedForALinkBetweenPassesReplacesNothingWhereItLeads)
{
    sync();
    const std::string computer = cloud.claimPairing(model->pairing()->code.toStdString()).computerId;
    cloud.sendDocument(computer, "fatura.pdf", (testPdf + "first").toStdString());
    sync();
    ASSERT_EQ(contents(inTarget(QStringLiteral("fatura.pdf"))), testPdf + "first");

    // Someone moves the folder away and leaves a link to a folder of theirs under its name.
    ASSERT_TRUE(root.rename(QStringLiteral("target"), QStringLiteral("moved")));
    write(outside(QStringLiteral("fatura.pdf")), QByteArrayLiteral("%PDF-1.4 theirs"));
    ASSERT_TRUE(QFile::link(QStringLiteral("outside"), target));
    cloud.sendDocument(computer, "fatura.pdf", (testPdf + "second").toStdString());
    services.clock.current = services.clock.current.addSecs(3600);
    sync();

    // The link is a folder the user can reach; it is used as one, and what it holds stays as it was.
    EXPECT_TRUE(QFileInfo(target).isSymLink());
    EXPECT_EQ(contents(outside(QStringLiteral("fatura.pdf"))), QByteArrayLiteral("%PDF-1.4 theirs"));
    EXPECT_EQ(contents(outside(QStringLiteral("fatura_2.pdf"))), testPdf + "second");
    EXPECT_EQ(entries(root.filePath(QStringLiteral("moved"))), QStringList({QStringLiteral("fatura.pdf")}));
    EXPECT_EQ(contents(root.filePath(QStringLiteral("moved/fatura.pdf"))), testPdf + "first");
    EXPECT_EQ(entries(root.filePath(QStringLiteral("outside"))),
        QStringList({QStringLiteral("fatura.pdf"), QStringLiteral("fatura_2.pdf")}));
}

} // namespace
