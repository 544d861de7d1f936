#pragma once

#include <QString>

// The reverse-DNS id the desktop knows this program by (set by the build): the desktop file name the
// program announces, the installed menu entry and the login entry all carry it, so the desktop groups
// the running program, its launcher and its autostart as one application.
inline QString desktopId()
{
    return QStringLiteral(TARVOLIN_DESKTOP_ID);
}
