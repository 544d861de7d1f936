// One real round trip through the desktop's Secret Service, each operation in a child that is the
// built program itself. Run by with-secret-service.sh, which starts a private session bus and an
// unlocked keyring in a throw-away home folder.

#include "core/KeychainStore.h"
#include "platform/linux/ChildProcessSecretStore.h"
#include "platform/linux/QtKeychainSecretStore.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

namespace {

TEST(SecretService, SaveReplacesLoadFindsAndRemoveForgets)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("TARVOLIN_PRIVATE_KEYRING"))
        << "run through with-secret-service.sh, never against the user's own keyring";

    ChildProcessSecretStore store(QStringLiteral(TARVOLIN_PROGRAM), std::chrono::seconds(20));
    KeychainStore keychain(store);
    const QString account = QStringLiteral("cloud-session");

    EXPECT_EQ(QCoro::waitFor(keychain.load(account)), std::nullopt);

    // An item that earlier versions stored from within the program stays readable.
    const QByteArray first("{\"accessToken\":\"a1\"}");
    QtKeychainSecretStore inProcess(std::chrono::seconds(20));
    KeychainStore earlier(inProcess);
    QCoro::waitFor(earlier.save(first, account));
    EXPECT_EQ(QCoro::waitFor(keychain.load(account)), first);

    const QByteArray second("{\"accessToken\":\"b2\",\"bytes\":\"\xc3\xa7\x00\x01\"}", 33);
    QCoro::waitFor(keychain.save(second, account));
    EXPECT_EQ(QCoro::waitFor(keychain.load(account)), second);

    // A save still under way when the program leaves is let finish, and so is the removal queued
    // before it: they reach the store in the order they were asked for.
    QCoro::Task<> removing = keychain.remove(account);
    QCoro::Task<> leaving = keychain.save(first, account);
    store.finishPendingWork();
    EXPECT_TRUE(removing.isReady() && leaving.isReady());
    EXPECT_EQ(QCoro::waitFor(keychain.load(account)), first);

    QCoro::waitFor(keychain.remove(account));
    EXPECT_EQ(QCoro::waitFor(keychain.load(account)), std::nullopt);
    QCoro::waitFor(keychain.remove(account)); // removing nothing is no error
}

} // namespace
