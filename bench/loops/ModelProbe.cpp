#include "ModelProbe.h"

#include "app/AppModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

ModelProbe::ModelProbe(AppModel &model)
    : m_model(model)
    , m_path(qEnvironmentVariable("TARVOLIN_PROBE_FILE"))
{
    if (m_path.isEmpty())
        return;
    connect(&m_model, &AppModel::isWorkingChanged, this, [this] {
        if (!m_model.isWorking())
            ++m_passes;
        write();
    });
    connect(&m_heartbeat, &QTimer::timeout, this, &ModelProbe::write);
    m_heartbeat.start(200);
    const int syncMs = qEnvironmentVariableIntValue("TARVOLIN_PROBE_SYNC_MS");
    if (syncMs > 0) {
        connect(&m_sync, &QTimer::timeout, this, [this] {
            if (m_model.isConfigured() && !m_model.isWorking())
                m_model.syncNow();
        });
        m_sync.start(syncMs);
    }
}

void ModelProbe::write()
{
    QJsonObject state{
        {QStringLiteral("pid"), qint64(QCoreApplication::applicationPid())},
        {QStringLiteral("heartbeatMs"), QDateTime::currentMSecsSinceEpoch()},
        {QStringLiteral("pendingCount"), m_model.pendingCount()},
        {QStringLiteral("downloadedToday"), m_model.downloadedToday()},
        {QStringLiteral("isWorking"), m_model.isWorking()},
        {QStringLiteral("passes"), m_passes},
        {QStringLiteral("status"), m_model.status()},
        {QStringLiteral("lastError"), m_model.lastError() ? QJsonValue(*m_model.lastError()) : QJsonValue()},
    };
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(state).toJson(QJsonDocument::Compact));
        file.commit();
    }
}
