// The cloud settings sheet: when it is open, its live binding to the model and its save rule.

#include "tests/ui/UiTestSupport.h"
#include "ui/CloudSettingsDialog.h"
#include "ui/ContentView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(CloudSettingsSheet, KeystrokesWriteTheModelCancelStoresNothingAndSavingStoresTheTrimmedTexts)
{
    UiFixture f(/*configured=*/false);
    ContentView view(*f.model);
    view.show();
    f.model->setShowingCloudSettings(true);
    auto sheet = [&] { return view.cloudSettingsSheet(); };
    auto field = [&](const char *name) { return sheet()->findChild<QLineEdit *>(QString::fromLatin1(name)); };
    auto button
        = [&](const char *name) { return sheet()->findChild<QPushButton *>(QString::fromLatin1(name)); };
    ASSERT_NE(sheet(), nullptr);

    EXPECT_FALSE(button("saveButton")->isEnabled());
    QTest::keyClicks(field("addressField"), QStringLiteral("https://typed.supabase.co"));
    EXPECT_EQ(f.model->supabaseURL(), QStringLiteral("https://typed.supabase.co"));
    EXPECT_FALSE(button("saveButton")->isEnabled());
    // A key of blanks counts as typed here; saving trims it later.
    QTest::keyClicks(field("keyField"), QStringLiteral(" secretkey"));
    EXPECT_TRUE(button("saveButton")->isEnabled());
    EXPECT_EQ(f.model->anonKey(), QStringLiteral(" secretkey"));
    EXPECT_FALSE(field("keyField")->displayText().contains(QStringLiteral("secret")));

    // Cancel and Escape close it and keep what was typed in the model, but store nothing.
    button("cancelButton")->click();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(f.model->showingCloudSettings());
    EXPECT_EQ(f.model->supabaseURL(), QStringLiteral("https://typed.supabase.co"));
    EXPECT_FALSE(f.services.settings.values.contains(QStringLiteral("supabaseURL")));
    f.model->setShowingCloudSettings(true);
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(field("addressField")->text(), QStringLiteral("https://typed.supabase.co"));
    QTest::keyClick(field("addressField"), Qt::Key_Escape);
    EXPECT_EQ(sheet(), nullptr);

    // Saving stores the trimmed texts, a key of blanks as none, and closes the sheet.
    f.model->setShowingCloudSettings(true);
    ASSERT_NE(sheet(), nullptr);
    f.model->setSupabaseURL(QStringLiteral("  https://abc.supabase.co/ "));
    EXPECT_EQ(field("addressField")->text(), QStringLiteral("  https://abc.supabase.co/ "));
    field("keyField")->selectAll();
    QTest::keyClicks(field("keyField"), QStringLiteral("   "));
    button("saveButton")->click();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(f.services.settings.values.value(QStringLiteral("supabaseURL")).toString(),
        QStringLiteral("https://abc.supabase.co"));
    EXPECT_EQ(f.services.settings.values.value(QStringLiteral("supabaseAnonKey")).toString(), QString());
}

} // namespace
