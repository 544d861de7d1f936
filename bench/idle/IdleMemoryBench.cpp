// Idle memory at a login start: the real program started as its login entry starts it, against the
// local cloud, beside the least Qt Widgets program that makes one https request, both on the same
// display (whatever QT_QPA_PLATFORM says; offscreen when unset). Once the program's first pass is
// done and both have idled, their resident sizes (VmRSS) are read and the ratio printed.
// Both run as users run them, trusting the system's authorities and no other: each sees a private
// /etc/ssl/certs (a user and mount namespace, unshare(1)) holding the local cloud's authority alone.
// Both share one private bus as their session and system bus, on which stand-ins for logind and
// NetworkManager say the computer is awake and online, as on a desktop. What still differs from a
// user's start: the display (offscreen by default), no secret service, portal, notification server or
// tray host on the bus, and the build type.
//
//   tarvolin_idle_memory [--idle SECONDS]
//   TARVOLIN_IDLE_KEEP=1: both smaps copied to /tmp/idle-*.smaps
//   TARVOLIN_IDLE_WRAP="heaptrack" (or any command): the program is started under it, for its figures
#include "LocalCloud.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;
namespace fs = std::filesystem;

namespace {

std::vector<pid_t> children; // ended when the bench gives up

[[noreturn]] void fail(const std::string &message)
{
    for (const pid_t child : children)
        kill(child, SIGTERM);
    std::cerr << "tarvolin_idle_memory: " << message << std::endl;
    std::exit(2);
}

pid_t spawn(const std::vector<std::string> &arguments, const std::vector<std::string> &extraEnvironment,
    const fs::path &log)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    if (!std::getenv("QT_QPA_PLATFORM"))
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char *> envp, argv;
    for (std::string &entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = arguments;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        fail("cannot start " + arguments[0]);
    posix_spawn_file_actions_destroy(&actions);
    children.push_back(pid);
    return pid;
}

long statusKiB(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::atol(line.c_str() + field.size() + 1);
    fail("no " + field + " for process " + std::to_string(pid) + " (has it ended?)");
}

std::string readAll(const fs::path &path)
{
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string threadNames(pid_t pid)
{
    std::string names;
    for (const fs::directory_entry &task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::string name = readAll(task.path() / "comm");
        name.erase(name.find_last_not_of('\n') + 1);
        names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

} // namespace

int main(int argc, char **argv)
{
    int idleSeconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--idle" && i + 1 < argc)
            idleSeconds = std::atoi(argv[++i]);
        else
            fail("usage: tarvolin_idle_memory [--idle SECONDS]");
    }
    std::string pattern = (fs::temp_directory_path() / "tarvolin-idle-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fail("cannot make a work folder");
    const fs::path work = pattern;
    // The certificates the loops' build of the program trusts; made here when no loop has run yet.
    const fs::path tls = fs::path(LOOPS_DIR) / "tls";
    if (!fs::exists(tls / "server-key.pem")) {
        {
            LocalCloud maker(LocalCloud::Options{.dataDir = (work / "maker").string()});
        }
        fs::create_directories(tls.parent_path());
        fs::rename(work / "maker" / "tls", tls);
    }
    fs::create_directories(work / "cloud" / "tls");
    for (const char *file : {"ca.pem", "ca-key.pem", "server.pem", "server-key.pem"})
        fs::copy_file(tls / file, work / "cloud" / "tls" / file);
    // The private system trust: Qt lists the roots by file, OpenSSL looks them up by subject hash.
    const fs::path roots = work / "roots";
    fs::create_directories(roots);
    fs::copy_file(tls / "ca.pem", roots / "local.pem");
    if (std::system(("openssl x509 -hash -noout -in '" + (tls / "ca.pem").string() + "' > '"
            + (work / "hash").string() + "'")
                        .c_str())
        != 0)
        fail("openssl cannot hash the local authority");
    std::string hash = readAll(work / "hash");
    hash.erase(hash.find_last_not_of(" \n") + 1);
    fs::copy_file(tls / "ca.pem", roots / (hash + ".0"));
    if (std::system("unshare --user --map-root-user --mount true") != 0)
        fail("no private mount namespace here (unshare)");
    // unshare and sh each exec the next, so the pid spawned is the program's own.
    const auto withSystemTrust = [&roots](std::vector<std::string> command) {
        command.insert(command.begin(),
            {"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/sh", "-c",
                "mount --bind \"$0\" /etc/ssl/certs && exec \"$@\"", roots.string()});
        return command;
    };

    // The bus: a private daemon, its address on the first line it prints.
    const pid_t bus
        = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}, work / "bus.log");
    std::string busAddress;
    for (int i = 0; i < 100 && busAddress.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string printed = readAll(work / "bus.log");
        if (printed.find('\n') != std::string::npos)
            busAddress = printed.substr(0, printed.find('\n'));
    }
    if (busAddress.empty())
        fail("the private bus did not start; see " + (work / "bus.log").string());
    const std::vector<std::string> desktop{
        "DBUS_SESSION_BUS_ADDRESS=" + busAddress, "DBUS_SYSTEM_BUS_ADDRESS=" + busAddress};
    const pid_t system = spawn({STAND_IN_SYSTEM}, desktop, work / "system.log");
    for (int i = 0; i < 100 && readAll(work / "system.log").find("ready") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (readAll(work / "system.log").find("ready") == std::string::npos)
        fail("the stand-in system services did not start; see " + (work / "system.log").string());

    int result = 0;
    {
        LocalCloud cloud(LocalCloud::Options{.dataDir = (work / "cloud").string()});
        const fs::path target = work / "Gider";
        fs::create_directories(target);
        fs::create_directories(work / "config" / "Kavrendal");
        std::ofstream(work / "config" / "Kavrendal" / "Tarvolin.conf")
            << "[General]\ntargetFolderBookmark=@ByteArray(" << target.string() << ")\n"
            << "manualCloudConfigurationEnabled=true\nsupabaseURL=" << cloud.baseUrl() << "\n"
            << "supabaseAnonKey=" << cloud.anonKey() << "\nstartupChoiceInitialized=true\n";

        std::vector<std::string> programCommand{IDLE_APP, "--background"};
        if (const char *wrap = std::getenv("TARVOLIN_IDLE_WRAP")) {
            std::istringstream words(wrap);
            std::vector<std::string> wrapper{std::istream_iterator<std::string>(words), {}};
            programCommand.insert(programCommand.begin(), wrapper.begin(), wrapper.end());
        }
        std::vector<std::string> programEnvironment = desktop;
        programEnvironment.insert(programEnvironment.end(),
            {"XDG_CONFIG_HOME=" + (work / "config").string(), "XDG_CACHE_HOME=" + (work / "cache").string(),
                "QT_LOGGING_RULES=*.debug=false"});
        const pid_t program
            = spawn(withSystemTrust(programCommand), programEnvironment, work / "program.log");
        const pid_t minimal = spawn(withSystemTrust({MINIMAL_APP, cloud.baseUrl() + "/auth/v1/health"}),
            desktop, work / "minimal.log");

        // Idle means: the program has listed its queue once, and the yardstick has its answer.
        bool passed = false;
        for (int i = 0; i < 600 && !passed; ++i) {
            for (const LocalCloud::LoggedRequest &request : cloud.requestLog())
                passed = passed
                    || (request.method == "GET" && request.path.starts_with("/rest/v1/transfer_items"));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!passed)
            fail("no pass within 60 s; see " + (work / "program.log").string());
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        if (readAll(work / "minimal.log").find("status ") == std::string::npos)
            fail("the yardstick got no answer; see " + (work / "minimal.log").string());

        const long programKiB = statusKiB(program, "VmRSS");
        const long minimalKiB = statusKiB(minimal, "VmRSS");
        std::printf(
            "idle VmRSS: program --background %.1f MiB, minimal Qt https program %.1f MiB, ratio %.2f\n",
            double(programKiB) / 1024, double(minimalKiB) / 1024, double(programKiB) / double(minimalKiB));
        std::printf("threads: program %ld (%s), minimal %ld (%s)\n", statusKiB(program, "Threads"),
            threadNames(program).c_str(), statusKiB(minimal, "Threads"), threadNames(minimal).c_str());
        if (std::getenv("TARVOLIN_IDLE_KEEP"))
            std::system(("cp /proc/" + std::to_string(program) + "/smaps /tmp/idle-program.smaps; cp /proc/"
                + std::to_string(minimal) + "/smaps /tmp/idle-minimal.smaps")
                            .c_str());
        for (const pid_t pid : {program, minimal}) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }
    for (const pid_t pid : {system, bus}) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    fs::remove_all(work);
    return result;
}
