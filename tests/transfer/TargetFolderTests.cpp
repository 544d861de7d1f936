// Choosing, remembering, preparing and opening the target folder.

#include "app/AppModel.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct Access {
    static void prepare(AppModel &model) { model.prepareTargetFolder(); }
    static std::optional<QString> accessFolder(const AppModel &model) { return model.folder().accessPath(); }
};

namespace {

const QString bookmarkKey = QStringLiteral("targetFolderBookmark");
const QString refusedText = QStringLiteral("Seçilen klasöre erişim izni alınamadı. Lütfen başka bir klasör seçin.");

class TargetFolderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(root.isValid()); }

    std::unique_ptr<AppModel> makeModel() { return std::make_unique<AppModel>(services.services(), testBuildValues()); }
    QString path(const QString &name) const { return QDir::cleanPath(root.filePath(name)); }

    QTemporaryDir root;
    TestServices services;
};

TEST_F(TargetFolderTest, FirstLaunchAsksOnceStartingAtTheNearestExistingFolder)
{
    auto model = makeModel();
    services.folderChooser.answers.push_back(std::nullopt);
    Access::prepare(*model);

    ASSERT_EQ(services.folderChooser.calls.size(), 1);
    const auto &call = services.folderChooser.calls.first();
    EXPECT_EQ(call.title, QStringLiteral("Evrakların kaydedileceği klasörü seçin"));
    const QString defaultFolder = QDir::homePath() + QStringLiteral("/Desktop/ROVEZADU/Gider");
    EXPECT_EQ(call.startDirectory, QFileInfo::exists(defaultFolder) ? defaultFolder : QFileInfo(defaultFolder).path());

    EXPECT_EQ(model->status(), QStringLiteral("Hedef klasör seçimi bekleniyor"));
    EXPECT_EQ(model->lastError(), QStringLiteral("Evrakların indirilebilmesi için bir hedef klasör seçin."));
    EXPECT_FALSE(Access::accessFolder(*model));
}

TEST_F(TargetFolderTest, ChoosingAFolderHoldsItsAccessAndRemembersIt)
{
    auto model = makeModel();
    const QString chosen = path(QStringLiteral("Evraklar/Gider"));
    services.folderChooser.answers.push_back(chosen);
    model->chooseFolder();

    EXPECT_EQ(model->targetFolder(), QUrl::fromLocalFile(chosen + u'/'));
    EXPECT_EQ(services.bookmarks.accessed, QStringList{chosen});
    EXPECT_TRUE(QFileInfo(chosen).isDir());
    EXPECT_EQ(services.settings.values.value(bookmarkKey).toByteArray(), chosen.toUtf8());
    EXPECT_EQ(services.settings.values.value(QStringLiteral("targetFolder")).toString(), chosen);
    EXPECT_EQ(services.settings.values.value(QStringLiteral("targetFolderConfirmed")), QVariant(true));
    EXPECT_EQ(model->status(), QStringLiteral("Klasör hazır"));
    EXPECT_FALSE(model->lastError());

    // The same folder again: access is given up and taken anew, and the folder is recreated.
    ASSERT_TRUE(QDir(chosen).removeRecursively());
    services.bookmarks.log.clear();
    services.folderChooser.answers.push_back(chosen);
    model->chooseFolder();
    EXPECT_EQ(services.bookmarks.log,
              QStringList({QStringLiteral("stop:") + chosen, QStringLiteral("start:") + chosen,
                           QStringLiteral("create:") + chosen}));
    EXPECT_TRUE(QFileInfo(chosen).isDir());

    // A restart finds it again without asking.
    model.reset();
    auto restarted = makeModel();
    Access::prepare(*restarted);
    EXPECT_EQ(restarted->targetFolder(), QUrl::fromLocalFile(chosen + u'/'));
    EXPECT_EQ(services.folderChooser.calls.size(), 2);
}

TEST_F(TargetFolderTest, RefusedOrCancelledChoiceKeepsThePreviousFolder)
{
    auto model = makeModel();
    const QString first = path(QStringLiteral("ilk"));
    const QString refused = path(QStringLiteral("yasak"));
    services.bookmarks.refused.append(refused);
    services.folderChooser.answers.push_back(first);
    model->chooseFolder();
    services.settings.writes.clear();

    services.folderChooser.answers.push_back(refused);
    model->chooseFolder();
    EXPECT_EQ(model->lastError(), refusedText);
    EXPECT_EQ(model->targetFolder(), QUrl::fromLocalFile(first + u'/'));
    EXPECT_EQ(Access::accessFolder(*model), first);
    EXPECT_EQ(services.bookmarks.accessed, QStringList{first}); // one folder at a time, and the old one back
    EXPECT_TRUE(services.settings.writes.isEmpty());

    model->chooseFolder(); // cancelled later: nothing changes at all
    EXPECT_EQ(model->lastError(), refusedText);
    EXPECT_EQ(model->status(), QStringLiteral("Klasör hazır"));
    EXPECT_EQ(model->targetFolder(), QUrl::fromLocalFile(first + u'/'));
}

TEST_F(TargetFolderTest, BookmarkFailuresStayVisibleButTheFolderWorks)
{
    auto model = makeModel();
    services.bookmarks.refuseCreate = true;
    const QString chosen = path(QStringLiteral("Gider"));
    services.folderChooser.answers.push_back(chosen);
    model->chooseFolder();

    EXPECT_EQ(Access::accessFolder(*model), chosen);
    EXPECT_EQ(model->status(), QStringLiteral("Klasör hazır"));
    EXPECT_EQ(model->lastError(), QStringLiteral("Klasör izni kaydedilemedi: Yer imi oluşturulamadı."));
    EXPECT_FALSE(services.settings.values.contains(bookmarkKey));
}

TEST_F(TargetFolderTest, StaleBookmarkIsRenewedAndUnresolvableOneFallsBackToTheChooser)
{
    const QString kept = path(QStringLiteral("Gider"));
    ASSERT_TRUE(QDir().mkpath(kept));
    services.settings.values.insert(bookmarkKey, kept.toUtf8());
    services.bookmarks.reportStale = true;
    auto model = makeModel();
    EXPECT_EQ(model->targetFolder(), QUrl::fromLocalFile(kept + u'/'));
    EXPECT_TRUE(services.bookmarks.log.contains(QStringLiteral("create:") + kept));
    EXPECT_TRUE(services.settings.writes.contains(bookmarkKey)) << "the renewed bookmark is stored";
    Access::prepare(*model);
    EXPECT_TRUE(services.folderChooser.calls.isEmpty());

    services.settings.values.insert(bookmarkKey, path(QStringLiteral("silindi")).toUtf8());
    auto lost = makeModel();
    Access::prepare(*lost);
    EXPECT_EQ(services.folderChooser.calls.size(), 1);
}

TEST_F(TargetFolderTest, OpeningRecreatesTheFolderOrReportsWhyNot)
{
    auto model = makeModel();
    const QString chosen = path(QStringLiteral("a/b/Gider"));
    services.folderChooser.answers.push_back(chosen);
    model->chooseFolder();
    ASSERT_TRUE(QDir(path(QStringLiteral("a"))).removeRecursively());

    model->openFolder();
    EXPECT_TRUE(QFileInfo(chosen).isDir());
    EXPECT_EQ(services.workspace.opened, QList<QUrl>{model->targetFolder()});

    // A file where a parent folder should be: nothing opens and the reason is shown.
    ASSERT_TRUE(QDir(path(QStringLiteral("a"))).removeRecursively());
    QFile blocker(path(QStringLiteral("a")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString statusBefore = model->status();
    model->openFolder();
    EXPECT_EQ(services.workspace.opened.size(), 1);
    EXPECT_TRUE(model->lastError().value_or(QString()).startsWith(QStringLiteral("Klasör açılamadı: ")));
    EXPECT_EQ(model->status(), statusBefore);
}

} // namespace
