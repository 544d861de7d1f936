// The notification after a pass, what its action does, and the list of recent arrivals.

#include "tests/transfer/WireSupport.h"

namespace {

class ArrivalNotificationTest : public WireTest
{
protected:
    const QList<Notification> &shown() const { return services.notifier.shown; }
};

TEST_F(ArrivalNotificationTest, APassThatSavedDocumentsSaysHowManyAndNamesTheFirst)
{
    const std::string computer = pairPhone();
    sync();
    EXPECT_TRUE(shown().isEmpty()) << "an empty pass is not news";

    // One document is shown itself, selected in the file manager.
    cloud.sendDocument(computer, "Fiş 1.pdf", testPdf.toStdString());
    sync();
    ASSERT_EQ(shown().size(), 1);
    EXPECT_EQ(shown()[0].actionText, QStringLiteral("Göster"));
    services.notifier.actions.front()();
    EXPECT_EQ(services.workspace.shownFiles,
        QStringList{QDir(folder.path()).filePath(QStringLiteral("Fiş 1.pdf"))});

    // The saved names, not the phone's: a placeholder in a name is text, not a place for the count.
    cloud.sendDocument(computer, "klasör/%2 fiş.pdf", testPdf.toStdString() + "2");
    cloud.sendDocument(computer, "makbuz", testJpeg.toStdString());
    cloud.sendDocument(computer, "son.pdf", testPdf.toStdString() + "3");
    sync();
    ASSERT_EQ(shown().size(), 2);
    EXPECT_EQ(shown()[1].title, QStringLiteral("3 evrak indirildi"));
    EXPECT_EQ(shown()[1].body, QStringLiteral("klasör_%2 fiş.pdf ve 2 evrak daha"));
    EXPECT_EQ(shown()[1].actionText, QStringLiteral("Klasörü Aç"));

    // The action shows the folder the documents went into, created again if it was removed meanwhile;
    // a shown document that has gone meanwhile shows its folder instead.
    ASSERT_TRUE(QDir(folder.path()).removeRecursively());
    services.notifier.actions.back()();
    ASSERT_EQ(services.workspace.opened.size(), 1);
    EXPECT_EQ(QDir::cleanPath(services.workspace.opened[0].toLocalFile()), QDir::cleanPath(folder.path()));
    EXPECT_TRUE(QDir(folder.path()).exists());
    services.notifier.actions.front()();
    EXPECT_EQ(services.workspace.shownFiles.size(), 1);
    ASSERT_EQ(services.workspace.opened.size(), 2);

    // An action picked after the model is gone does nothing.
    auto late = services.notifier.actions.front();
    model.reset();
    late();
    EXPECT_EQ(services.workspace.opened.size(), 2);
}

TEST_F(ArrivalNotificationTest, NoneWhenSwitchedOffOrWhileTheUserWatchesTheCount)
{
    const std::string computer = pairPhone();
    bool watching = true;
    model->setCountInViewCheck([&] { return watching; });
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    sync();
    EXPECT_TRUE(shown().isEmpty());

    // The switch is remembered, and read back by the next start.
    watching = false;
    model->setNotificationsEnabled(false);
    restart();
    EXPECT_FALSE(model->notificationsEnabled());
    cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    sync();
    EXPECT_EQ(model->downloadedToday(), 1);
    EXPECT_TRUE(shown().isEmpty());
}

// Fed by the pass, kept across a restart, capped, and never lost to a file it cannot read.
TEST_F(ArrivalNotificationTest, RecentArrivalsSurviveARestartAndAnUnreadableFileIsSetAside)
{
    QTemporaryDir data;
    services.application.dataDir = data.path();
    restart();
    const std::string computer = pairPhone();
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    cloud.sendDocument(computer, "iki#%20.pdf", testPdf.toStdString() + "2");
    sync();
    restart();
    const QList<Arrival> kept = model->recentArrivals().all();
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0].fileName(), QStringLiteral("iki#%20.pdf")) << "newest first";
    EXPECT_TRUE(RecentArrivals::isPresent(kept[1]));
    ASSERT_TRUE(QFile::remove(kept[1].path));
    EXPECT_FALSE(RecentArrivals::isPresent(kept[1]));

    // The same file found again moves up; the oldest drop out beyond the cap.
    const QString file = data.filePath(QStringLiteral("recent-arrivals.json"));
    RecentArrivals list(file);
    for (int i = 0; i < RecentArrivals::capacity + 5; ++i)
        list.add(Arrival{services.clock.now(), QStringLiteral("/f/%1.pdf").arg(i)});
    list.add(Arrival{services.clock.now(), QStringLiteral("/f/1000.pdf")});
    ASSERT_TRUE(list.save());
    EXPECT_EQ(RecentArrivals(file).all().size(), RecentArrivals::capacity);
    EXPECT_EQ(RecentArrivals(file).all()[0].path, QStringLiteral("/f/1000.pdf"));

    // A foreign file starts an empty list and is kept aside, untouched.
    QFile foreign(file);
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly | QIODevice::Truncate) && foreign.write("{not json") == 9);
    foreign.close();
    RecentArrivals fresh(file);
    EXPECT_TRUE(fresh.all().isEmpty());
    EXPECT_TRUE(fresh.isKept());
    QFile aside(file + QStringLiteral(".unreadable"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{not json"));
}

} // namespace
