#pragma once

#include <QDialog>

class AppModel;
class QLineEdit;
class QPushButton;

// The form for typing the backend address and key by hand. It keeps no copy: each keystroke writes
// the model, and the model's values are what the fields show. It is open while the model's
// showingCloudSettings is true; closing it in any way sets that false.
class CloudSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CloudSettingsDialog(AppModel &model, QWidget *parent = nullptr);

    void done(int result) override;

private:
    void redraw();

    AppModel &m_model;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_key = nullptr;
    QPushButton *m_save = nullptr;
};
