// The window for people who do not use a mouse or do not see it: every control a screen reader can
// reach has a name, and Tab walks the controls in reading order.

#include "tests/ui/UiTestSupport.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString describe(QWidget *widget)
{
    return widget->metaObject()->className() + QStringLiteral(" ") + widget->objectName();
}

void collectUnnamed(QAccessibleInterface *node, QStringList &unnamed, int &controls)
{
    const QAccessible::State state = node->state();
    if (state.focusable && !state.invisible && !state.disabled) {
        ++controls;
        if (node->text(QAccessible::Name).trimmed().isEmpty())
            unnamed.append(QStringLiteral("role %1 %2")
                               .arg(node->role())
                               .arg(node->object() ? node->object()->objectName() : QString()));
    }
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface *child = node->child(i))
            collectUnnamed(child, unnamed, controls);
    }
}

struct WindowWithEverything {
    // Every kind of control on screen at once: the error box's retry button, and arrivals.
    WindowWithEverything()
        : f(true)
        , window(*f.model, MainWindow::Hooks{[] {}, [] { return true; }})
    {
        Ui::setLastError(*f.model, QStringLiteral("Sunucuya ulaşılamadı"));
        for (const char *name : {"a.pdf", "b.pdf"}) {
            QFile file(f.folder + QLatin1Char('/') + QString::fromLatin1(name));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            Ui::reportSaved(*f.model, file.fileName());
        }
        Ui::reportSaved(*f.model, f.folder + QStringLiteral("/gone.pdf"));
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    UiFixture f;
    MainWindow window;
};

TEST(Accessibility, EveryFocusableControlInTheTreeHasAName)
{
    WindowWithEverything w;
    QStringList unnamed;
    int controls = 0;
    collectUnnamed(QAccessible::queryAccessibleInterface(&w.window), unnamed, controls);
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(QStringLiteral(", ")).toStdString();
    // Settings, two folder buttons, the switch, renewal, retry, two arrivals, sync and more.
    EXPECT_GE(controls, 9);

    // The switch tells its state, not just its name.
    auto *loginSwitch = w.window.findChild<QWidget *>(QStringLiteral("loginSwitch"));
    QAccessibleInterface *node = QAccessible::queryAccessibleInterface(loginSwitch);
    EXPECT_TRUE(node->state().checkable);
    EXPECT_EQ(bool(node->state().checked), w.f.model->launchAtLogin());
}

TEST(Accessibility, TabWalksTheControlsInReadingOrder)
{
    WindowWithEverything w;
    QList<QWidget *> chain;
    QWidget *first = nullptr;
    for (QWidget *next = w.window.nextInFocusChain(); next != &w.window; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(&w.window) && next->isEnabled()) {
            chain.append(next);
            first = first ? first : next;
        }
    }
    ASSERT_GE(chain.size(), 8);

    // Each stop is below the previous one, or beside it to the right.
    for (int i = 1; i < chain.size(); ++i) {
        const QRect before(chain[i - 1]->mapTo(&w.window, QPoint()), chain[i - 1]->size());
        const QRect after(chain[i]->mapTo(&w.window, QPoint()), chain[i]->size());
        const bool below = after.top() >= before.center().y() && after.center().y() > before.bottom();
        const bool besideRight = after.left() >= before.right() && after.top() < before.bottom()
            && after.bottom() > before.top();
        EXPECT_TRUE(below || besideRight)
            << describe(chain[i - 1]).toStdString() << " then " << describe(chain[i]).toStdString();
    }

    // And the Tab key really goes that way.
    first->setFocus(Qt::TabFocusReason);
    for (int i = 1; i < chain.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), chain[i])
            << i << " " << describe(QApplication::focusWidget()).toStdString();
    }
}

} // namespace
