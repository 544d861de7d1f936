// The cloud settings sheet: when it is open, its live binding to the model and its save rule.

#include "tests/ui/UiTestSupport.h"
#include "ui/CloudSettingsDialog.h"
#include "ui/ContentView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class CloudSettingsSheet : public ::testing::Test
{
protected:
    CloudSettingsSheet() : f(/*configured=*/false), view(*f.model)
    {
        view.show();
        f.model->setShowingCloudSettings(true);
    }

    CloudSettingsDialog *sheet() { return view.cloudSettingsSheet(); }
    QLineEdit *address() { return sheet()->findChild<QLineEdit *>(QStringLiteral("addressField")); }
    QLineEdit *key() { return sheet()->findChild<QLineEdit *>(QStringLiteral("keyField")); }
    QPushButton *button(const char *name) { return sheet()->findChild<QPushButton *>(QString::fromLatin1(name)); }

    UiFixture f;
    ContentView view;
};

TEST_F(CloudSettingsSheet, FollowsTheModelsFlagAndCancelOrEscapeKeepWhatWasTyped)
{
    ASSERT_NE(sheet(), nullptr);
    QTest::keyClicks(address(), QStringLiteral("https://typed.supabase.co"));
    button("cancelButton")->click();
    EXPECT_FALSE(f.model->showingCloudSettings());
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(f.model->supabaseURL(), QStringLiteral("https://typed.supabase.co"));
    EXPECT_FALSE(f.services.settings.values.contains(QStringLiteral("supabaseURL"))) << "nothing stored";

    f.model->setShowingCloudSettings(true);
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(address()->text(), QStringLiteral("https://typed.supabase.co"));
    QTest::keyClick(address(), Qt::Key_Escape);
    EXPECT_FALSE(f.model->showingCloudSettings());
    EXPECT_EQ(sheet(), nullptr);
}

TEST_F(CloudSettingsSheet, EveryKeystrokeWritesTheModelAndSavingStoresTheTrimmedTexts)
{
    ASSERT_NE(sheet(), nullptr);
    QPushButton *save = button("saveButton");
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(address(), QStringLiteral("https://abc.supabase.co"));
    EXPECT_EQ(f.model->supabaseURL(), QStringLiteral("https://abc.supabase.co"));
    EXPECT_FALSE(save->isEnabled());
    // A key of blanks counts as typed here; saving trims it later.
    QTest::keyClicks(key(), QStringLiteral(" "));
    EXPECT_TRUE(save->isEnabled());
    QTest::keyClicks(key(), QStringLiteral("secretkey"));
    EXPECT_EQ(f.model->anonKey(), QStringLiteral(" secretkey"));
    EXPECT_TRUE(f.model->isConfigured());

    EXPECT_FALSE(key()->displayText().contains(QStringLiteral("secret")));

    f.model->setSupabaseURL(QStringLiteral("https://other.supabase.co"));
    EXPECT_EQ(address()->text(), QStringLiteral("https://other.supabase.co"));
    address()->selectAll();
    QTest::keyClick(address(), Qt::Key_Backspace);
    EXPECT_TRUE(f.model->supabaseURL().isEmpty());
    EXPECT_FALSE(save->isEnabled());

    // Saving stores the trimmed texts, a key of blanks as none, and closes the sheet.
    QTest::keyClicks(address(), QStringLiteral("  https://abc.supabase.co/ "));
    key()->selectAll();
    QTest::keyClicks(key(), QStringLiteral("   "));
    save->click();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(f.services.settings.values.value(QStringLiteral("supabaseURL")).toString(),
              QStringLiteral("https://abc.supabase.co"));
    EXPECT_EQ(f.services.settings.values.value(QStringLiteral("supabaseAnonKey")).toString(), QString());
}

} // namespace
