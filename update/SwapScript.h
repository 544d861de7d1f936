#pragma once

#include <QByteArray>
#include <QString>

// The shell script that replaces the installed application folder after the program has quit.
// Run as: /bin/sh <script> <pid> <staged Tarvolin.app> <installed Tarvolin.app> [<seconds>]
//
// It waits until the program has released its lock on the installed folder and its process is gone
// (a zombie counts as gone), copies the staged folder beside the installed one as ".new", moves the
// installed one aside as ".old", moves ".new" into place and starts the new program. ".old" is kept
// until the new program confirms its start (swapStartedMarker() inside ".old") within <seconds>
// (60 when not given). On any failure, or a signal, the old folder is put back and the old program
// started again; the script then ends with status 1. It removes its working folder and itself.
QByteArray swapScriptText();

// The file a freshly swapped-in program creates inside "<installed>.old" to say it is up.
inline QString swapStartedMarker()
{
    return QStringLiteral(".Tarvolin-started");
}

// How long the script waits for that confirmation.
inline constexpr int swapConfirmationSeconds = 60;
