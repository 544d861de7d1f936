#pragma once

#include <QPointer>
#include <QWidget>

class AppModel;
class ArrivalsCard;
class BusyIndicator;
class CloudSettingsDialog;
class PixelImageView;
class QLabel;
class QPushButton;
class RoundedBox;
class ToggleSwitch;

// The content of the main window: the header and the status, folder, pairing, sync and recent arrivals cards,
// with the error banner below them. It shows the model and nothing else: every change signal of the model
// redraws it, and every control calls one model operation. Showing it starts the model.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    explicit ContentView(AppModel &model, QWidget *parent = nullptr);
    ~ContentView() override;

    // The cloud settings sheet while it is open, else null.
    CloudSettingsDialog *cloudSettingsSheet() const;
    // Whether today's count is on screen, not scrolled away or hidden.
    bool showsCount() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildStatusCard();
    QWidget *buildFolderCard();
    QWidget *buildPairingCard();
    QWidget *buildSyncCard();
    QWidget *buildErrorBanner();
    void presentCloudSettingsIfAsked();

private Q_SLOTS:
    void redraw();

private:
    AppModel &m_model;

    RoundedBox *m_statusDot = nullptr;
    QLabel *m_statusLine = nullptr;
    QLabel *m_lastSyncLine = nullptr;
    BusyIndicator *m_statusSpinner = nullptr;

    QLabel *m_folderPath = nullptr;
    ToggleSwitch *m_loginSwitch = nullptr;

    QWidget *m_qrPanel = nullptr;
    PixelImageView *m_qrImage = nullptr;
    QLabel *m_codeLine = nullptr;
    QWidget *m_errorBox = nullptr;
    QLabel *m_errorBoxText = nullptr;
    QWidget *m_placeholderBox = nullptr;
    BusyIndicator *m_placeholderSpinner = nullptr;
    QLabel *m_placeholderText = nullptr;

    QLabel *m_pendingCount = nullptr;
    QLabel *m_downloadedToday = nullptr;
    QPushButton *m_syncButton = nullptr;

    ArrivalsCard *m_arrivalsCard = nullptr;

    QWidget *m_errorBanner = nullptr;
    QLabel *m_errorBannerText = nullptr;

    QPointer<CloudSettingsDialog> m_sheet;
};
