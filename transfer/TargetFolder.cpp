// Placeholder until document transfer lands; replaced wholesale by its owner.
#include "app/AppModel.h"

void AppModel::prepareTargetFolderIfNeeded() { m_didPrepareTargetFolder = true; }
void AppModel::saveTargetFolderBookmark(const QString &) {}
