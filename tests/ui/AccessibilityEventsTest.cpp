// What a screen reader hears: on a real display with the accessibility bus, a change of the status or
// of the error is announced on its own, without the user moving to it.

#include "tests/ui/UiTestSupport.h"
#include "ui/MainWindow.h"

#include <QAccessible>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QStringList announced; // object names of the widgets whose name changed

void recordNameChanges(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::NameChanged && event->object())
        announced.append(event->object()->objectName());
}

TEST(AccessibilityEvents, StatusAndErrorChangesAreAnnounced)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
        << "run under with-accessibility-bus.sh";
    UiFixture f(true);
    MainWindow window(*f.model, MainWindow::Hooks{[] {}, [] { return true; }});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QAccessible::installUpdateHandler(recordNameChanges);
    ASSERT_TRUE(QTest::qWaitFor([] { return QAccessible::isActive(); }, 10000))
        << "no accessibility bus: nothing would reach a screen reader";

    Ui::reportDownloading(*f.model, 1, 3);
    Ui::setLastError(*f.model, QStringLiteral("Sunucuya ulaşılamadı"));
    Ui::reportDownloading(*f.model, 1, 3); // no change: nothing to say
    QAccessible::installUpdateHandler(nullptr);

    // Once each: a screen reader says twice what it is told twice.
    EXPECT_EQ(announced,
        QStringList({QStringLiteral("statusLine"), QStringLiteral("errorBoxText"),
            QStringLiteral("errorBannerText")}));
}

} // namespace
