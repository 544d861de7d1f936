#include "ui/ContentView.h"

#include "app/AppModel.h"
#include "ui/ArrivalsCard.h"
#include "ui/CloudSettingsDialog.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMetaProperty>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel *label(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *result = new QLabel(text, parent);
    // What these labels show comes partly from outside (a phone's file name, a folder's path): never
    // let it be read as markup.
    result->setTextFormat(Qt::PlainText);
    Theme::styleLabel(result, font, colour);
    return result;
}

// A changed status or error is told to screen readers: a label's accessible name is its text, and a
// label with no name of its own announces each new text itself, so a name set on one would silence it.
void setAnnouncedText(QLabel *label, const QString &text)
{
    Q_ASSERT(label->accessibleName().isEmpty());
    label->setText(text);
}

QVBoxLayout *column(int spacing, QWidget *owner = nullptr)
{
    auto *layout = owner ? new QVBoxLayout(owner) : new QVBoxLayout;
    layout->setSpacing(spacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

QHBoxLayout *row(int spacing, QWidget *owner = nullptr)
{
    auto *layout = owner ? new QHBoxLayout(owner) : new QHBoxLayout;
    if (spacing >= 0)
        layout->setSpacing(spacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

QLabel *symbolLabel(Symbols::Kind kind, int size, const QColor &colour, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setPixmap(Symbols::pixmap(kind, size, colour, parent->devicePixelRatioF()));
    result->setFixedSize(size, size);
    return result;
}

constexpr int cardPadding = 17;
constexpr int defaultSpacing = 8;
const QSize panelSize(230, 230);

} // namespace

ContentView::ContentView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setPalette(Theme::windowPalette());
    setAutoFillBackground(true);
    setMinimumSize(590, 700);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The area itself is no stop for Tab; it scrolls to whichever control gets the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto *columnWidget = new QWidget(scroll);
    columnWidget->setObjectName(QStringLiteral("column"));
    auto *layout = column(16, columnWidget);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->addWidget(buildHeader());
    layout->addWidget(buildStatusCard());
    layout->addWidget(buildFolderCard());
    layout->addWidget(buildPairingCard());
    layout->addWidget(buildSyncCard());
    m_arrivalsCard = new ArrivalsCard(model);
    layout->addWidget(m_arrivalsCard);
    layout->addWidget(buildErrorBanner());
    layout->addStretch(1);
    scroll->setWidget(columnWidget);
    scroll->viewport()->setAutoFillBackground(false);
    columnWidget->setAutoFillBackground(false);

    auto *outer = column(0, this);
    outer->addWidget(scroll);

    // Every published property redraws the whole view: it is small, and nothing can go stale.
    const QMetaObject *meta = model.metaObject();
    const QMetaMethod redrawSlot = metaObject()->method(metaObject()->indexOfMethod("redraw()"));
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal())
            connect(&model, property.notifySignal(), this, redrawSlot);
    }
    redraw();
}

ContentView::~ContentView() = default;

bool ContentView::showsCount() const
{
    return m_downloadedToday->isVisible() && !m_downloadedToday->visibleRegion().isEmpty();
}

CloudSettingsDialog *ContentView::cloudSettingsSheet() const
{
    return m_sheet && m_sheet->isVisible() ? m_sheet.data() : nullptr;
}

QWidget *ContentView::buildHeader()
{
    auto *header = new RoundedBox(Theme::navy, 22);
    header->setObjectName(QStringLiteral("header"));
    auto *layout = row(13, header);
    layout->setContentsMargins(18, 18, 18, 18);

    auto *tile = new RoundedBox(Theme::gold, 14, header);
    tile->setObjectName(QStringLiteral("logoTile"));
    tile->setFixedSize(46, 46);
    auto *letters = label(QStringLiteral("TN"), Theme::font(16, QFont::Black), Theme::navy, tile);
    letters->setAlignment(Qt::AlignCenter);
    column(0, tile)->addWidget(letters);
    layout->addWidget(tile);

    auto *titles = column(2);
    titles->addWidget(
        label(QStringLiteral("Tarvolin Masaüstü"), Theme::font(19, QFont::Bold), Qt::white, header));
    titles->addWidget(label(QStringLiteral("Evrak Aktarımı · %1 Bağlantısı").arg(m_model.platformName()),
        Theme::font(12), Theme::withOpacity(Qt::white, 0.68), header));
    layout->addLayout(titles);
    layout->addStretch(1);

    auto *settings = new QPushButton(header);
    settings->setObjectName(QStringLiteral("settingsButton"));
    settings->setToolTip(QStringLiteral("Bulut Bağlantısı"));
    settings->setAccessibleName(QStringLiteral("Bulut Bağlantısı"));
    settings->setFixedSize(38, 38);
    settings->setIcon(Symbols::icon(Symbols::Kind::Gear, Qt::white));
    settings->setIconSize(QSize(20, 20));
    settings->setCursor(Qt::PointingHandCursor);
    settings->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgba(255, 255, 255, 26); border: none; border-radius: 12px; }"
        "QPushButton:pressed { background: rgba(255, 255, 255, 60); }"));
    connect(settings, &QPushButton::clicked, this, [this] { m_model.setShowingCloudSettings(true); });
    layout->addWidget(settings);
    return header;
}

QWidget *ContentView::buildStatusCard()
{
    auto *card = new Card;
    card->setObjectName(QStringLiteral("statusCard"));
    auto *layout = row(defaultSpacing, card);
    layout->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);

    m_statusDot = new RoundedBox(Theme::orange, 5, card);
    m_statusDot->setObjectName(QStringLiteral("statusDot"));
    m_statusDot->setFixedSize(10, 10);
    layout->addWidget(m_statusDot, 0, Qt::AlignVCenter);

    auto *texts = column(3);
    m_statusLine = label({}, Theme::font(14, QFont::Bold), Theme::text(), card);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_lastSyncLine = label({}, Theme::font(11), Theme::secondaryText(), card);
    m_lastSyncLine->setObjectName(QStringLiteral("lastSyncLine"));
    texts->addWidget(m_statusLine);
    texts->addWidget(m_lastSyncLine);
    layout->addLayout(texts);
    layout->addStretch(1);

    m_statusSpinner = new BusyIndicator(16, card);
    m_statusSpinner->setObjectName(QStringLiteral("statusSpinner"));
    layout->addWidget(m_statusSpinner, 0, Qt::AlignVCenter);
    return card;
}

QWidget *ContentView::buildFolderCard()
{
    auto *card = new Card;
    card->setObjectName(QStringLiteral("folderCard"));
    auto *layout = column(12, card);
    layout->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);

    auto *title = row(6);
    title->addWidget(symbolLabel(Symbols::Kind::Folder, 16, Theme::title(), card));
    title->addWidget(
        label(QStringLiteral("Hedef Klasör"), Theme::font(14, QFont::Bold), Theme::title(), card));
    title->addStretch(1);
    layout->addLayout(title);

    m_folderPath = label({}, Theme::monospacedFont(11), Theme::secondaryText(), card);
    m_folderPath->setObjectName(QStringLiteral("folderPath"));
    m_folderPath->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_folderPath->setWordWrap(true);
    layout->addWidget(m_folderPath);

    auto *note = label(QStringLiteral("Evraklar, izin verdiğiniz bu klasöre güvenli biçimde kaydedilir."),
        Theme::font(11), Theme::secondaryText(), card);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto *actions = row(defaultSpacing);
    auto *change = new QPushButton(QStringLiteral("Klasörü Değiştir"), card);
    change->setObjectName(QStringLiteral("changeFolderButton"));
    Theme::styleBorderedButton(change);
    connect(change, &QPushButton::clicked, this, [this] { m_model.chooseFolder(false); });
    auto *open = new QPushButton(QStringLiteral("Klasörü Aç"), card);
    open->setObjectName(QStringLiteral("openFolderButton"));
    Theme::styleBorderedButton(open);
    connect(open, &QPushButton::clicked, this, [this] { m_model.openFolder(); });
    actions->addWidget(change);
    actions->addWidget(open);
    actions->addStretch(1);

    const QString loginText = QStringLiteral("Oturum açılınca başlat");
    auto *loginLabel = label(loginText, Theme::font(12), Theme::text(), card);
    m_loginSwitch = new ToggleSwitch(card);
    m_loginSwitch->setObjectName(QStringLiteral("loginSwitch"));
    m_loginSwitch->setAccessibleName(loginText);
    loginLabel->setBuddy(m_loginSwitch);
    // The switch shows what the operation leaves in the model, so a refused change springs back.
    connect(m_loginSwitch, &ToggleSwitch::clicked, this,
        [this] { m_model.setLaunchAtLogin(!m_model.launchAtLogin()); });
    actions->addWidget(loginLabel);
    actions->addWidget(m_loginSwitch);
    layout->addLayout(actions);
    return card;
}

QWidget *ContentView::buildPairingCard()
{
    auto *card = new Card;
    card->setObjectName(QStringLiteral("pairingCard"));
    auto *layout = column(12, card);
    layout->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);

    auto *heading = row(defaultSpacing);
    auto *texts = column(3);
    texts->addWidget(
        label(QStringLiteral("Telefonu Bağla"), Theme::font(16, QFont::Bold), Theme::title(), card));
    auto *hint = label(QStringLiteral("Mobil uygulamada Bilgisayar Bağla düğmesine basıp bu kodu okutun."),
        Theme::font(11), Theme::secondaryText(), card);
    hint->setWordWrap(true);
    texts->addWidget(hint);
    heading->addLayout(texts, 1);
    auto *renew = new QPushButton(QStringLiteral("Kodu Yenile"), card);
    renew->setObjectName(QStringLiteral("renewCodeButton"));
    Theme::styleBorderedButton(renew);
    connect(renew, &QPushButton::clicked, this, [this] { m_model.refreshPairing(); });
    heading->addWidget(renew, 0, Qt::AlignTop);
    layout->addLayout(heading);

    // The QR panel: the image on white, and the code below it.
    m_qrPanel = new QWidget(card);
    m_qrPanel->setObjectName(QStringLiteral("qrPanel"));
    auto *qrLayout = column(12, m_qrPanel);
    auto *qrFrame = new RoundedBox(Qt::white, 18, m_qrPanel);
    qrFrame->setFixedSize(panelSize + QSize(20, 20));
    m_qrImage = new PixelImageView(qrFrame);
    m_qrImage->setObjectName(QStringLiteral("qrImage"));
    m_qrImage->setGeometry(QRect(QPoint(10, 10), panelSize));
    qrLayout->addWidget(qrFrame, 0, Qt::AlignHCenter);
    m_codeLine = label({}, Theme::monospacedFont(13, QFont::Bold), Theme::tealText(), m_qrPanel);
    m_codeLine->setObjectName(QStringLiteral("codeLine"));
    m_codeLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    qrLayout->addWidget(m_codeLine, 0, Qt::AlignHCenter);
    layout->addWidget(m_qrPanel, 0, Qt::AlignHCenter);

    // The error box, while there is an error and no image.
    auto *errorBox = new RoundedBox(Theme::withOpacity(Theme::red, 0.06), 18, card);
    m_errorBox = errorBox;
    m_errorBox->setObjectName(QStringLiteral("errorBox"));
    m_errorBox->setFixedSize(panelSize);
    auto *errorLayout = column(12, m_errorBox);
    errorLayout->addStretch(1);
    errorLayout->addWidget(
        symbolLabel(Symbols::Kind::WifiExclamation, 34, Theme::withOpacity(Theme::red, 0.78), m_errorBox), 0,
        Qt::AlignHCenter);
    m_errorBoxText = label({}, Theme::font(11, QFont::DemiBold), Theme::secondaryText(), m_errorBox);
    m_errorBoxText->setObjectName(QStringLiteral("errorBoxText"));
    m_errorBoxText->setAlignment(Qt::AlignHCenter);
    m_errorBoxText->setWordWrap(true);
    m_errorBoxText->setContentsMargins(16, 0, 16, 0);
    errorLayout->addWidget(m_errorBoxText);
    auto *retry = new QPushButton(QStringLiteral("Tekrar Dene"), m_errorBox);
    retry->setObjectName(QStringLiteral("retryButton"));
    Theme::styleProminentButton(retry, Theme::accent());
    connect(retry, &QPushButton::clicked, this, [this] { m_model.refreshPairing(); });
    errorLayout->addWidget(retry, 0, Qt::AlignHCenter);
    errorLayout->addStretch(1);
    layout->addWidget(m_errorBox, 0, Qt::AlignHCenter);

    // The placeholder: a spinner while the code is on its way, or the hint to finish the settings.
    m_placeholderBox = new RoundedBox(Theme::withOpacity(Theme::gray, 0.1), 18, card);
    m_placeholderBox->setObjectName(QStringLiteral("placeholderBox"));
    m_placeholderBox->setFixedSize(panelSize);
    auto *placeholderLayout = column(0, m_placeholderBox);
    placeholderLayout->setAlignment(Qt::AlignCenter);
    m_placeholderSpinner = new BusyIndicator(32, m_placeholderBox);
    m_placeholderSpinner->setObjectName(QStringLiteral("placeholderSpinner"));
    placeholderLayout->addWidget(m_placeholderSpinner, 0, Qt::AlignCenter);
    m_placeholderText = label(QStringLiteral("Bulut ayarlarını tamamlayın"), Theme::font(12),
        Theme::secondaryText(), m_placeholderBox);
    m_placeholderText->setObjectName(QStringLiteral("placeholderText"));
    placeholderLayout->addWidget(m_placeholderText, 0, Qt::AlignCenter);
    layout->addWidget(m_placeholderBox, 0, Qt::AlignHCenter);
    return card;
}

QWidget *ContentView::buildSyncCard()
{
    auto *card = new Card;
    card->setObjectName(QStringLiteral("syncCard"));
    auto *layout = row(14, card);
    layout->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);

    auto *pending = column(4);
    m_pendingCount = label({}, Theme::font(30, QFont::Black), Theme::title(), card);
    m_pendingCount->setObjectName(QStringLiteral("pendingCount"));
    pending->addWidget(m_pendingCount);
    pending->addWidget(
        label(QStringLiteral("bulutta bekleyen evrak"), Theme::font(11), Theme::secondaryText(), card));
    layout->addLayout(pending);
    layout->addStretch(1);

    auto *today = column(4);
    m_downloadedToday = label({}, Theme::font(13, QFont::Bold), Theme::tealText(), card);
    m_downloadedToday->setObjectName(QStringLiteral("downloadedToday"));
    today->addWidget(m_downloadedToday, 0, Qt::AlignRight);
    today->addWidget(label(QStringLiteral("evrak indirildi"), Theme::font(10), Theme::secondaryText(), card),
        0, Qt::AlignRight);
    layout->addLayout(today);

    m_syncButton = new QPushButton(QStringLiteral("Şimdi Kontrol Et"), card);
    m_syncButton->setObjectName(QStringLiteral("syncButton"));
    m_syncButton->setIcon(Symbols::icon(Symbols::Kind::ArrowClockwise, Qt::white));
    m_syncButton->setIconSize(QSize(14, 14));
    Theme::styleProminentButton(m_syncButton, Theme::accent());
    connect(m_syncButton, &QPushButton::clicked, this, [this] { m_model.syncNow(); });
    layout->addWidget(m_syncButton, 0, Qt::AlignVCenter);
    return card;
}

QWidget *ContentView::buildErrorBanner()
{
    auto *banner = new RoundedBox(Theme::withOpacity(Theme::red, 0.08), 14);
    m_errorBanner = banner;
    m_errorBanner->setObjectName(QStringLiteral("errorBanner"));
    auto *layout = column(0, m_errorBanner);
    layout->setContentsMargins(14, 14, 14, 14);
    m_errorBannerText
        = label({}, Theme::font(12, QFont::DemiBold), Theme::withOpacity(Theme::red, 0.85), banner);
    m_errorBannerText->setObjectName(QStringLiteral("errorBannerText"));
    m_errorBannerText->setWordWrap(true);
    m_errorBannerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_errorBannerText);
    return m_errorBanner;
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Queued, so that a folder chooser the start may open never runs inside the show itself.
    QTimer::singleShot(0, &m_model, [model = &m_model] { model->start(); });
    presentCloudSettingsIfAsked();
}

void ContentView::redraw()
{
    const bool configured = m_model.isConfigured();
    const bool working = m_model.isWorking();
    const std::optional<QString> error = m_model.lastError();

    m_statusDot->setFill(configured ? Theme::green : Theme::orange);
    setAnnouncedText(m_statusLine, m_model.status());
    if (const auto lastSync = m_model.lastSync()) {
        m_lastSyncLine->setText(
            QStringLiteral("Son kontrol: ") + shortTimeText(lastSync->toLocalTime().time()));
    } else {
        m_lastSyncLine->setText(QStringLiteral("Belgeler otomatik kontrol edilir"));
    }
    m_statusSpinner->setVisible(working);

    m_folderPath->setText(m_model.targetFolder().toLocalFile());
    m_loginSwitch->setOn(m_model.launchAtLogin());

    const QImage qr = m_model.qrImage();
    const bool showQr = !qr.isNull();
    const bool showErrorBox = !showQr && error.has_value();
    m_qrPanel->setVisible(showQr);
    m_errorBox->setVisible(showErrorBox);
    m_placeholderBox->setVisible(!showQr && !showErrorBox);
    m_qrImage->setImage(qr);
    const auto &pairing = m_model.pairing();
    m_codeLine->setText(QStringLiteral("Tek kullanımlık kod: ") + (pairing ? pairing->code : QString()));
    setAnnouncedText(m_errorBoxText, error.value_or(QString()));
    m_placeholderSpinner->setVisible(configured);
    m_placeholderText->setVisible(!configured);

    m_pendingCount->setText(QString::number(m_model.pendingCount()));
    m_downloadedToday->setText(QStringLiteral("Bugün ") + QString::number(m_model.downloadedToday()));
    m_syncButton->setEnabled(configured && !working);

    m_errorBanner->setVisible(error.has_value());
    setAnnouncedText(m_errorBannerText, error.value_or(QString()));

    presentCloudSettingsIfAsked();
}

void ContentView::presentCloudSettingsIfAsked()
{
    const bool wanted = m_model.showingCloudSettings();
    if (!wanted) {
        if (m_sheet && m_sheet->isVisible())
            m_sheet->hide();
        return;
    }
    // A sheet belongs to a window on screen; a hidden view presents it when it is shown again.
    if (!isVisible())
        return;
    if (!m_sheet)
        m_sheet = new CloudSettingsDialog(m_model, this);
    if (!m_sheet->isVisible())
        m_sheet->open();
}
