#pragma once

#include <QMainWindow>

#include <functional>

class AppModel;
class ContentView;

// The one main window: the content view under the application menu. Closing it leaves the process
// and the model running.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    struct Hooks {
        std::function<void()> quit; // leaves the program
        std::function<bool()> canHideToTray; // whether a tray icon can bring the window back
    };

    MainWindow(AppModel &model, Hooks hooks, QWidget *parent = nullptr);
    ~MainWindow() override;

    ContentView *content() const { return m_content; }
    // Shows the window, restores it when minimised, and brings it in front.
    void bringForward();
    // Builds the content anew, in the current look and text size. The view keeps no state, so
    // nothing is lost; an open settings sheet opens again on the new one.
    void rebuildContent();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildApplicationMenu();

    AppModel &m_model;
    Hooks m_hooks;
    ContentView *m_content;
    bool m_rebuildQueued = false;
};
