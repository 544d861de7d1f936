#pragma once

#include <QByteArray>

// The shell script that replaces the installed application folder after the program has quit.
// Run as: /bin/sh <script> <pid> <staged Tarvolin.app> <installed Tarvolin.app>
//
// It waits for the process to end, copies the staged folder beside the installed one as ".new",
// moves the installed one aside as ".old", moves ".new" into place (putting ".old" back when that
// fails), starts the new program and cleans up. Any failure before the last move leaves the
// installed folder untouched and ends with status 1 without restarting anything.
QByteArray swapScriptText();
