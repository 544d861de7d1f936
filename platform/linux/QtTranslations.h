#pragma once

#include <QCoreApplication>

// Loads Qt's own Turkish messages (network and file errors among them) into the application, so
// that the platform's descriptions reach the user in the program's language. Returns whether the
// catalogue was found; without it Qt's English texts stay.
bool installQtTranslations(QCoreApplication &application);
