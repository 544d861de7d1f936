#include "ui/CloudSettingsDialog.h"

#include "app/AppModel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *label(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *result = new QLabel(text, parent);
    Theme::styleLabel(result, font, colour);
    return result;
}

QLineEdit *field(const QString &placeholder, QWidget *parent)
{
    auto *result = new QLineEdit(parent);
    result->setPlaceholderText(placeholder);
    result->setFont(Theme::font(13));
    const QColor ink = Theme::text();
    const QColor focus = Theme::isDark() ? Theme::title() : Theme::navy;
    result->setStyleSheet(QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3;"
                                         " border-radius: 6px; padding: 5px 8px; }"
                                         "QLineEdit:focus { border: 1px solid %4; }")
                              .arg(Theme::cardBackground().name(), ink.name(),
                                  Theme::withOpacity(ink, 0.2).name(QColor::HexArgb),
                                  Theme::withOpacity(focus, 0.63).name(QColor::HexArgb)));
    return result;
}

// Writes a field's text back only when the model changed it, so typing keeps its cursor.
void showValue(QLineEdit *field, const QString &value)
{
    if (field->text() != value)
        field->setText(value);
}

} // namespace

CloudSettingsDialog::CloudSettingsDialog(AppModel &model, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
{
    setWindowTitle(QStringLiteral("Bulut Bağlantısı"));
    setWindowModality(Qt::WindowModal);
    setPalette(Theme::windowPalette());
    setAutoFillBackground(true);
    setFixedWidth(470);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(16);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    layout->addWidget(
        label(QStringLiteral("Bulut Bağlantısı"), Theme::font(22, QFont::Bold), Theme::title(), this));
    auto *explanation
        = label(QStringLiteral(
                    "Bu bilgiler yalnızca uygulamanın güvenli belge kuyruğuna bağlanması için kullanılır."),
            Theme::font(12), Theme::secondaryText(), this);
    explanation->setWordWrap(true);
    explanation->setFixedWidth(470 - 48);
    layout->addWidget(explanation);

    auto *addressLabel = label(
        QStringLiteral("Supabase Proje Adresi"), Theme::font(12, QFont::DemiBold), Theme::text(), this);
    m_address = field(QStringLiteral("https://abcdefghijklmnopqrst.supabase.co"), this);
    m_address->setObjectName(QStringLiteral("addressField"));
    addressLabel->setBuddy(m_address);
    layout->addWidget(addressLabel);
    layout->addWidget(m_address);

    auto *keyLabel
        = label(QStringLiteral("Anon Public Key"), Theme::font(12, QFont::DemiBold), Theme::text(), this);
    m_key = field(QStringLiteral("sb_publishable_…"), this);
    m_key->setObjectName(QStringLiteral("keyField"));
    m_key->setEchoMode(QLineEdit::Password);
    keyLabel->setBuddy(m_key);
    layout->addWidget(keyLabel);
    layout->addWidget(m_key);

    auto *buttons = new QHBoxLayout;
    auto *cancel = new QPushButton(QStringLiteral("Vazgeç"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    Theme::styleBorderedButton(cancel);
    m_save = new QPushButton(QStringLiteral("Kaydet ve Bağlan"), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->setDefault(true);
    Theme::styleProminentButton(m_save, Theme::accent());
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(m_save);
    layout->addLayout(buttons);

    // Only what the user types goes to the model; the model's own changes come back through redraw().
    connect(m_address, &QLineEdit::textEdited, this,
        [this](const QString &text) { m_model.setSupabaseURL(text); });
    connect(m_key, &QLineEdit::textEdited, this, [this](const QString &text) { m_model.setAnonKey(text); });
    connect(cancel, &QPushButton::clicked, this, [this] { m_model.setShowingCloudSettings(false); });
    // Saving closes the sheet through the model, which clears showingCloudSettings when it succeeds.
    connect(m_save, &QPushButton::clicked, this, [this] {
        if (m_save->isEnabled())
            m_model.saveCloudSettings();
    });
    connect(&model, &AppModel::supabaseURLChanged, this, &CloudSettingsDialog::redraw);
    connect(&model, &AppModel::anonKeyChanged, this, &CloudSettingsDialog::redraw);
    redraw();
}

void CloudSettingsDialog::done(int result)
{
    // Escape and the window's close button end up here as well; the model's flag follows them.
    QDialog::done(result);
    m_model.setShowingCloudSettings(false);
}

void CloudSettingsDialog::redraw()
{
    showValue(m_address, m_model.supabaseURL());
    showValue(m_key, m_model.anonKey());
    // The raw texts: a key of only blanks still enables saving, and the save step trims it.
    m_save->setEnabled(!m_model.supabaseURL().isEmpty() && !m_model.anonKey().isEmpty());
}
