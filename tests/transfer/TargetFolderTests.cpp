// Choosing, remembering, preparing and opening the target folder.

#include "app/AppModel.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString bookmarkKey = QStringLiteral("targetFolderBookmark");
const QString readyText = QStringLiteral("Klasör hazır");

class TargetFolderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(root.isValid()); }

    std::unique_ptr<AppModel> makeModel()
    {
        return std::make_unique<AppModel>(services.services(), testBuildValues());
    }
    // A start prepares the folder, asking for one if none is held; the loop it launches is not wanted.
    void startAndStop(AppModel &model)
    {
        model.start();
        model.stop();
    }
    QString path(const QString &name) const { return QDir::cleanPath(root.filePath(name)); }
    QUrl urlOf(const QString &folder) const { return QUrl::fromLocalFile(folder + u'/'); }

    QTemporaryDir root;
    TestServices services;
};

TEST_F(TargetFolderTest, AChoiceIsAskedOnceHeldRememberedAndOpenedAndARefusedOrCancelledOneKeepsIt)
{
    // The first start asks once, at the nearest folder that exists; cancelling leaves it unset.
    auto model = makeModel();
    QStringList statuses;
    QObject::connect(
        model.get(), &AppModel::statusChanged, model.get(), [&] { statuses.append(model->status()); });
    services.folderChooser.answers.push_back(std::nullopt);
    model->start();
    model->start();
    model->stop();
    ASSERT_EQ(services.folderChooser.calls.size(), 1);
    const QString defaultFolder = QDir::homePath() + QStringLiteral("/Desktop/ROVEZADU/Gider");
    EXPECT_EQ(services.folderChooser.calls.first().startDirectory,
        QFileInfo::exists(defaultFolder) ? defaultFolder : QFileInfo(defaultFolder).path());
    EXPECT_TRUE(statuses.contains(QStringLiteral("Hedef klasör seçimi bekleniyor")));
    EXPECT_EQ(model->lastError(), QStringLiteral("Evrakların indirilebilmesi için bir hedef klasör seçin."));
    EXPECT_TRUE(services.bookmarks.accessed.isEmpty());

    const QString chosen = path(QStringLiteral("Evraklar/Gider"));
    services.folderChooser.answers.push_back(chosen);
    model->chooseFolder();
    EXPECT_EQ(model->targetFolder(), urlOf(chosen));
    EXPECT_EQ(services.bookmarks.accessed, QStringList{chosen});
    EXPECT_TRUE(QFileInfo(chosen).isDir());
    EXPECT_EQ(services.settings.values.value(bookmarkKey).toByteArray(), chosen.toUtf8());
    EXPECT_EQ(model->status(), readyText);
    EXPECT_FALSE(model->lastError());

    // A folder whose access is refused, then a cancelled choice: the first stays, unwritten.
    const QString refused = path(QStringLiteral("yasak"));
    const QString refusedText
        = QStringLiteral("Seçilen klasöre erişim izni alınamadı. Lütfen başka bir klasör seçin.");
    services.bookmarks.refused.append(refused);
    services.settings.writes.clear();
    services.folderChooser.answers.push_back(refused);
    model->chooseFolder();
    EXPECT_EQ(model->lastError(), refusedText);
    EXPECT_EQ(services.bookmarks.accessed, QStringList{chosen}); // one folder at a time, and the old one back
    model->chooseFolder();
    EXPECT_EQ(model->lastError(), refusedText);
    EXPECT_EQ(model->status(), readyText);
    EXPECT_EQ(model->targetFolder(), urlOf(chosen));
    EXPECT_TRUE(services.settings.writes.isEmpty());

    // A restart finds it again without asking.
    model.reset();
    auto restarted = makeModel();
    startAndStop(*restarted);
    EXPECT_EQ(restarted->targetFolder(), urlOf(chosen));
    EXPECT_EQ(services.folderChooser.calls.size(), 4);

    // Opening makes the folder again; a file where a parent folder should be opens nothing and says why.
    ASSERT_TRUE(QDir(path(QStringLiteral("Evraklar"))).removeRecursively());
    restarted->openFolder();
    EXPECT_TRUE(QFileInfo(chosen).isDir());
    EXPECT_EQ(services.workspace.opened, QList<QUrl>{restarted->targetFolder()});
    ASSERT_TRUE(QDir(path(QStringLiteral("Evraklar"))).removeRecursively());
    QFile blocker(path(QStringLiteral("Evraklar")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    restarted->openFolder();
    EXPECT_EQ(services.workspace.opened.size(), 1);
    EXPECT_TRUE(restarted->lastError().value_or(QString()).startsWith(QStringLiteral("Klasör açılamadı: ")));
}

TEST_F(TargetFolderTest, BookmarkTroubleStaysVisibleOrFallsBackToTheChooser)
{
    // A bookmark that cannot be made: the folder works, and the reason shows.
    services.bookmarks.refuseCreate = true;
    auto model = makeModel();
    const QString chosen = path(QStringLiteral("Gider"));
    services.folderChooser.answers.push_back(chosen);
    model->chooseFolder();
    EXPECT_EQ(services.bookmarks.accessed, QStringList{chosen});
    EXPECT_EQ(model->status(), readyText);
    EXPECT_EQ(model->lastError(), QStringLiteral("Klasör izni kaydedilemedi: Yer imi oluşturulamadı."));
    EXPECT_FALSE(services.settings.values.contains(bookmarkKey));
    model.reset();

    // A stale one is renewed and stored; one that resolves to nothing asks again.
    services.bookmarks.refuseCreate = false;
    services.bookmarks.reportStale = true;
    services.settings.values.insert(bookmarkKey, chosen.toUtf8());
    auto stale = makeModel();
    EXPECT_EQ(stale->targetFolder(), urlOf(chosen));
    EXPECT_TRUE(services.bookmarks.log.contains(QStringLiteral("create:") + chosen));
    EXPECT_TRUE(services.settings.writes.contains(bookmarkKey)) << "the renewed bookmark is stored";
    startAndStop(*stale);
    EXPECT_EQ(services.folderChooser.calls.size(), 1);
    stale.reset();

    services.settings.values.insert(bookmarkKey, path(QStringLiteral("silindi")).toUtf8());
    auto lost = makeModel();
    startAndStop(*lost);
    EXPECT_EQ(services.folderChooser.calls.size(), 2);
}

} // namespace
