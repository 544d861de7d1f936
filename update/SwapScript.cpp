#include "update/SwapScript.h"

// Paths reach the script only as arguments and are always quoted, so no name can be read as shell
// syntax. "-T" keeps mv and cp from nesting a folder inside a leftover one of the same name.
// The new program is started detached, with no terminal, so that it outlives the script.
QByteArray swapScriptText()
{
    static const char text[] =
        "#!/bin/sh\n"
        "pid=\"$1\"\n"
        "source_app=\"$2\"\n"
        "target_app=\"$3\"\n"
        "while kill -0 \"$pid\" 2>/dev/null; do /bin/sleep 1; done\n"
        "/bin/rm -rf \"${target_app}.new\"\n"
        "/bin/cp -a -T \"$source_app\" \"${target_app}.new\" || exit 1\n"
        "/bin/rm -rf \"${target_app}.old\"\n"
        "/bin/mv -T \"$target_app\" \"${target_app}.old\" || exit 1\n"
        "/bin/mv -T \"${target_app}.new\" \"$target_app\" || {\n"
        "  /bin/mv -T \"${target_app}.old\" \"$target_app\"\n"
        "  exit 1\n"
        "}\n"
        "/usr/bin/nohup \"$target_app/Contents/MacOS/Tarvolin\" </dev/null >/dev/null 2>&1 &\n"
        "/bin/rm -rf \"${target_app}.old\"\n"
        "/bin/rm -f \"$0\"";
    return QByteArray(text);
}
