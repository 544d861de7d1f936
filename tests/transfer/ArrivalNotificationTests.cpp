// The notification after a pass: when there is one, what it says, and what its action does.

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

    cloud.sendDocument(computer, "Fiş 1.pdf", testPdf.toStdString());
    sync();
    ASSERT_EQ(shown().size(), 1);
    EXPECT_EQ(shown()[0].title, QStringLiteral("1 evrak indirildi"));
    EXPECT_EQ(shown()[0].body, QStringLiteral("Fiş 1.pdf"));
    EXPECT_EQ(shown()[0].actionText, QStringLiteral("Klasörü Aç"));

    // The saved names, not the phone's: a placeholder in a name is text, not a place for the count.
    cloud.sendDocument(computer, "klasör/%2 fiş.pdf", testPdf.toStdString() + "2");
    cloud.sendDocument(computer, "makbuz", testJpeg.toStdString());
    cloud.sendDocument(computer, "son.pdf", testPdf.toStdString() + "3");
    sync();
    ASSERT_EQ(shown().size(), 2);
    EXPECT_EQ(shown()[1].title, QStringLiteral("3 evrak indirildi"));
    EXPECT_EQ(shown()[1].body, QStringLiteral("klasör_%2 fiş.pdf ve 2 evrak daha"));

    // The action shows the folder the documents went into, created again if it was removed meanwhile.
    ASSERT_TRUE(QDir(folder.path()).removeRecursively());
    services.notifier.actions.back()();
    ASSERT_EQ(services.workspace.opened.size(), 1);
    EXPECT_EQ(QDir::cleanPath(services.workspace.opened[0].toLocalFile()), QDir::cleanPath(folder.path()));
    EXPECT_TRUE(QDir(folder.path()).exists());

    // An action picked after the model is gone does nothing.
    auto late = services.notifier.actions.front();
    model.reset();
    late();
    EXPECT_EQ(services.workspace.opened.size(), 1);
}

TEST_F(ArrivalNotificationTest, DocumentsSavedBeforeAFailureAreStillAnnounced)
{
    const std::string computer = pairPhone();
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    const auto second = cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    cloud.injectFault({LocalCloud::FaultKind::Status, "/storage/v1/object/sign/expenses/" + second.storagePath, "GET",
                       500, R"({"message":"boom"})"});
    sync();
    ASSERT_TRUE(model->lastError());
    ASSERT_EQ(shown().size(), 1);
    EXPECT_EQ(shown()[0].title, QStringLiteral("1 evrak indirildi"));
    EXPECT_EQ(shown()[0].body, QStringLiteral("bir.pdf"));
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
    EXPECT_EQ(services.settings.values.value(QStringLiteral("notificationsEnabled")), QVariant(false));
    model = std::make_unique<AppModel>(services.services(), testBuildValues(qs(cloud.baseUrl()), qs(cloud.anonKey())));
    EXPECT_FALSE(model->notificationsEnabled());
    cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    sync();
    EXPECT_EQ(model->downloadedToday(), 1);
    EXPECT_TRUE(shown().isEmpty());

    model->setNotificationsEnabled(true);
    cloud.sendDocument(computer, "uc.pdf", testPdf.toStdString() + "3");
    sync();
    ASSERT_EQ(shown().size(), 1);
    EXPECT_EQ(shown()[0].body, QStringLiteral("uc.pdf"));
}

} // namespace
