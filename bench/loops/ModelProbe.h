#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class AppModel;

// Lets the crash loop and the fault soak watch the running program from outside: a few times a second
// it writes the model's counters and a heartbeat to the file named by TARVOLIN_PROBE_FILE. The
// heartbeat comes from the main thread's event loop, so a stale one means a stuck program. With
// TARVOLIN_PROBE_SYNC_MS it also asks for a pass that often, as an impatient user would, so that a
// run does not wait out the pause between passes.
class ModelProbe : public QObject
{
public:
    explicit ModelProbe(AppModel &model);

private:
    void write();

    AppModel &m_model;
    QString m_path;
    QTimer m_heartbeat;
    QTimer m_sync;
    int m_passes = 0;
};
