#include "update/SwapScript.h"

// Paths reach the script only as arguments and are always quoted, so no name can be read as shell
// syntax. "-T" keeps mv and cp from nesting a folder inside a leftover one of the same name.
//
// Waiting: the program holds a lock on the installed folder until the kernel closes its files at
// exit, and flock waits for it; `kill -0` would also answer for a zombie nobody has reaped yet.
// Descriptor 9 keeps that lock for the script from then on (".old" is the same folder after the
// move), which tells a starting program that a swap is still under way; no program started from
// here inherits it.
//
// "moved" is set only once the installed folder really is ".old": a leftover ".old" from an earlier
// run is never mistaken for the folder to put back.
QByteArray swapScriptText()
{
    static const char text[]
        = "#!/bin/sh\n"
          "pid=\"$1\"\n"
          "source_app=\"$2\"\n"
          "target_app=\"$3\"\n"
          "seconds=\"${4:-60}\"\n"
          "marker=\"${target_app}.old/.Tarvolin-started\"\n"
          "moved=\n"
          "new_pid=\n"
          "gone() {\n"
          "  { read -r state </proc/\"$1\"/stat; } 2>/dev/null || return 0\n"
          "  state=\"${state##*) }\"\n"
          "  [ \"${state%% *}\" = Z ]\n"
          "}\n"
          "launch() {\n"
          "  /usr/bin/nohup \"$1/Contents/MacOS/Tarvolin\" </dev/null >/dev/null 2>&1 9<&- &\n"
          "}\n"
          "finish() {\n"
          "  case \"$source_app\" in\n"
          "    */Tarvolin-Update-*/stage/Tarvolin.app) /bin/rm -rf \"${source_app%/stage/Tarvolin.app}\" ;;\n"
          "  esac\n"
          "  /bin/rm -f \"$0\"\n"
          "  exit \"$1\"\n"
          "}\n"
          "fail() {\n"
          "  trap '' HUP INT TERM\n"
          "  if [ -n \"$new_pid\" ]; then\n"
          "    /bin/kill \"$new_pid\" 2>/dev/null\n"
          "    n=0\n"
          "    until gone \"$new_pid\"; do\n"
          "      n=$((n + 1))\n"
          "      [ \"$n\" -gt 50 ] && /bin/kill -9 \"$new_pid\" 2>/dev/null\n"
          "      /bin/sleep 0.1\n"
          "    done\n"
          "  fi\n"
          "  if [ -n \"$moved\" ]; then\n"
          "    /bin/rm -f \"$marker\"\n"
          "    /bin/rm -rf \"${target_app}.new\"\n"
          "    [ -e \"$target_app\" ] && /bin/mv -T \"$target_app\" \"${target_app}.new\"\n"
          "    /bin/mv -T \"${target_app}.old\" \"$target_app\"\n"
          "  fi\n"
          "  /bin/rm -rf \"${target_app}.new\"\n"
          "  launch \"$target_app\"\n"
          "  finish 1\n"
          "}\n"
          "trap fail HUP INT TERM\n"
          "[ -d \"$target_app\" ] || finish 1\n"
          "exec 9<\"$target_app\"\n"
          "/usr/bin/flock 9\n"
          "until gone \"$pid\"; do /bin/sleep 1; done\n"
          "/bin/rm -rf \"${target_app}.new\"\n"
          "/bin/cp -a -T \"$source_app\" \"${target_app}.new\" || fail\n"
          "/bin/rm -rf \"${target_app}.old\"\n"
          "/bin/mv -T \"$target_app\" \"${target_app}.old\" || fail\n"
          "moved=1\n"
          "/bin/mv -T \"${target_app}.new\" \"$target_app\" || fail\n"
          "launch \"$target_app\"\n"
          "new_pid=$!\n"
          "n=0\n"
          "until [ -e \"$marker\" ]; do\n"
          "  if gone \"$new_pid\" || [ \"$n\" -ge $((seconds * 5)) ]; then fail; fi\n"
          "  n=$((n + 1))\n"
          "  /bin/sleep 0.2\n"
          "done\n"
          "/bin/rm -rf \"${target_app}.old\"\n"
          "finish 0";
    return QByteArray(text);
}
