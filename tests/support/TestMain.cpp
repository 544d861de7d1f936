// The entry point of every test executable: a Qt application object (offscreen), then GoogleTest.
#include <QApplication>
#include <QFont>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // The usual desktop text size rather than the bare platform's smaller one, so the window is laid
    // out in tests as users see it.
    QFont font = QApplication::font();
    font.setPointSizeF(10);
    QApplication::setFont(font);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
