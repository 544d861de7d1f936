// Placeholder until the cloud connection lands; replaced wholesale by its owner.
#include "app/AppModel.h"

QCoro::Task<> AppModel::loadOfficialCloudConfiguration() { co_return; }
QCoro::Task<> AppModel::prepareConnection() { co_return; }
