// The crash loop and the fault soak: the real program against the local cloud, killed at random
// moments or served a fifth of its requests wrong, and then the folder and the cloud's books checked.
//
//   tarvolin_loops crash [--kills N] [--queue K] [--seed S] [--keep]
//   tarvolin_loops soak [--documents N] [--rate R] [--seed S] [--keep]
//
// Run it under tests/app/with-secret-service.sh: the session must outlive each kill as it would in
// the user's keyring. Prints one line of figures and exits 1 when any count that must be zero is not.
#include "Crypto.h"
#include "LocalCloud.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

extern char **environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

[[noreturn]] void fail(const std::string &message)
{
    std::cerr << "tarvolin_loops: " << message << std::endl;
    std::exit(2);
}

std::optional<std::string> readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush())
        fail("cannot write " + path.string());
}

void sleepMs(long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The documents the phone sends: PDFs and JPEGs of mixed sizes, under names that collide, some of
// them byte for byte repeats of an earlier one (under its name or under another).
class Phone
{
public:
    struct Sent {
        std::string name;
        std::string sha;
    };

    Phone(LocalCloud &cloud, std::uint64_t seed, double largeShare)
        : m_cloud(cloud)
        , m_random(seed)
        , m_large(largeShare)
    {
    }

    void send(const std::string &computerId)
    {
        std::uniform_real_distribution<double> unit(0, 1);
        std::string name;
        std::string bytes;
        const double pick = unit(m_random);
        if (!m_history.empty() && pick < 0.15) {
            // The same document again, as a phone sends it twice.
            const auto &[oldName, oldBytes] = m_history[m_random() % m_history.size()];
            name = oldName;
            bytes = oldBytes;
            if (pick < 0.05)
                name = "kopya-" + std::to_string(m_sent.size()) + (isPdf(bytes) ? ".pdf" : ".jpg");
        } else {
            static const std::vector<std::string> names{
                "fatura.pdf", "Fiş 1.pdf", "makbuz", "rapor.PDF", "taksi.jpg", "otopark.jpeg"};
            name = pick < 0.6 ? names[m_random() % names.size()]
                              : "belge-" + std::to_string(m_sent.size()) + (pick < 0.8 ? ".pdf" : ".jpg");
            const bool pdf = lower(name).ends_with(".pdf");
            std::size_t size = unit(m_random) < m_large ? (2u << 20) + m_random() % (6u << 20)
                                                        : 64 + m_random() % (160u << 10);
            bytes = pdf ? std::string("%PDF-1.4\n") : std::string("\xFF\xD8\xFF\xE0", 4);
            bytes.reserve(size);
            while (bytes.size() < size)
                bytes.push_back(char(m_random() & 0xFF));
            // Small ones are remembered for repeats; large ones would cost memory for nothing.
            if (size < (256u << 10))
                m_history.emplace_back(name, bytes);
        }
        const LocalCloud::Row row = m_cloud.sendDocument(computerId, name, bytes);
        m_sent[row.id] = Sent{name, localcloud::sha256Hex(bytes)};
    }

    const std::map<std::string, Sent> &sent() const { return m_sent; }

private:
    static bool isPdf(const std::string &bytes) { return bytes.starts_with("%PDF-"); }
    static std::string lower(std::string text)
    {
        for (char &c : text)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    LocalCloud &m_cloud;
    std::mt19937_64 m_random;
    double m_large;
    std::vector<std::pair<std::string, std::string>> m_history;
    std::map<std::string, Sent> m_sent;
};

// One run of the program, watched through its probe file.
class Program
{
public:
    Program(const fs::path &work, int syncMs)
        : m_probe(work / "probe.json")
    {
        fs::remove(m_probe);
        std::vector<std::string> env;
        for (char **e = environ; *e; ++e) {
            const std::string entry(*e);
            if (!entry.starts_with("XDG_CONFIG_HOME=") && !entry.starts_with("XDG_CACHE_HOME=")
                && !entry.starts_with("QT_QPA_PLATFORM="))
                env.push_back(entry);
        }
        env.push_back("XDG_CONFIG_HOME=" + (work / "config").string());
        env.push_back("XDG_CACHE_HOME=" + (work / "cache").string());
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("QT_LOGGING_RULES=*.debug=false");
        env.push_back("TARVOLIN_PROBE_FILE=" + m_probe.string());
        env.push_back("TARVOLIN_PROBE_SYNC_MS=" + std::to_string(syncMs));
        std::vector<char *> envp;
        for (std::string &entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = (work / "app.log").string();
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::string app = LOOP_APP;
        char *argv[] = {app.data(), nullptr};
        if (posix_spawn(&m_pid, app.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            fail("cannot start " + app);
        posix_spawn_file_actions_destroy(&actions);
        m_started = Clock::now();
    }
    ~Program() { kill(SIGKILL); }

    bool alive()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    void kill(int signal)
    {
        if (m_pid <= 0)
            return;
        peakKiB();
        ::kill(m_pid, signal);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    // The probe's last state, empty until the first write.
    json state() const
    {
        const auto text = readFile(m_probe);
        if (!text)
            return json::object();
        return json::parse(*text, nullptr, false);
    }

    // Peak resident memory so far (VmHWM).
    long peakKiB()
    {
        if (m_pid > 0) {
            std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
            std::string line;
            while (std::getline(status, line))
                if (line.starts_with("VmHWM:"))
                    m_peak = std::max(m_peak, std::atol(line.c_str() + 6));
        }
        return m_peak;
    }

    double secondsSinceStart() const
    {
        return std::chrono::duration<double>(Clock::now() - m_started).count();
    }

private:
    fs::path m_probe;
    pid_t m_pid = -1;
    Clock::time_point m_started;
    long m_peak = 0;
};

// Everything one loop needs: the cloud, the program's profile, the target folder, the request log.
class Bench
{
public:
    Bench(const fs::path &work)
        : m_work(work)
        , m_target(work / "Gider")
    {
        fs::create_directories(m_work / "cloud" / "tls");
        fs::create_directories(m_target);
        fs::create_directories(m_work / "config" / "Kavrendal");
        for (const char *file : {"ca.pem", "ca-key.pem", "server.pem", "server-key.pem"})
            fs::copy_file(fs::path(LOOPS_DIR) / "tls" / file, m_work / "cloud" / "tls" / file);
        m_cloud = std::make_unique<LocalCloud>(LocalCloud::Options{.dataDir = (m_work / "cloud").string()});
        std::ostringstream settings;
        settings << "[General]\ntargetFolderBookmark=@ByteArray(" << m_target.string() << ")\n"
                 << "manualCloudConfigurationEnabled=true\nsupabaseURL=" << m_cloud->baseUrl() << "\n"
                 << "supabaseAnonKey=" << m_cloud->anonKey() << "\nstartupChoiceInitialized=true\n"
                 << "notificationsEnabled=false\n";
        writeFile(m_work / "config" / "Kavrendal" / "Tarvolin.conf", settings.str());
        admin("PUT", "/_admin/watched-folder", json{{"path", m_target.string()}}.dump());
        // Things of the user's in the folder: the clean-up of abandoned temporaries must leave them.
        writeFile(m_target / "Notlar.txt", "benim\n");
        writeFile(m_target / ".tarvolin-ab.part", "benim\n");
        fs::create_directories(m_target / ".tarvolin-ABCDEF.part");
    }

    LocalCloud &cloud() { return *m_cloud; }
    const fs::path &work() const { return m_work; }

    json admin(const std::string &method, const std::string &path, const std::string &body = {})
    {
        const LocalCloud::Response answer
            = m_cloud->request(method, path, body, {{"Content-Type", "application/json"}});
        if (answer.status < 200 || answer.status > 299)
            fail(method + " " + path + ": " + std::to_string(answer.status) + " " + answer.body
                + answer.error);
        return answer.body.empty() ? json() : json::parse(answer.body);
    }

    // The computer the program registered, once it has shown its first code.
    std::string waitForComputer(Program &program)
    {
        for (int i = 0; i < 600; ++i) {
            const auto codes = m_cloud->pairingCodes();
            if (!codes.empty()) {
                // The phone scans the first code; later starts show new codes for the same computer.
                if (codes.size() == 1 && !codes.front().claimed)
                    m_cloud->claimPairing(codes.front().code);
                return codes.front().computerId;
            }
            if (!program.alive())
                fail("the program stopped before pairing; see " + (m_work / "app.log").string());
            sleepMs(100);
        }
        fail("no pairing code after 60 s");
    }

    // Keeps the request log beyond the server's last 20,000 entries.
    // Returns how many of the new requests were listings, that is, passes begun.
    int collectLog()
    {
        int listings = 0;
        m_logComplete = true;
        for (const json &entry : admin("GET", "/_admin/log?since=" + std::to_string(m_logSeq))) {
            // Still being answered: read it again next time, with its outcome.
            if (!entry["status"].is_number()) {
                m_logComplete = false;
                return listings;
            }
            m_logSeq = std::max<std::int64_t>(m_logSeq, entry["seq"].get<std::int64_t>());
            listings += entry["method"] == "GET"
                && entry["path"].get<std::string>().starts_with("/rest/v1/transfer_items");
            m_lastRequest = entry["method"].get<std::string>() + " " + entry["path"].get<std::string>();
            m_log.push_back(entry);
        }
        return listings;
    }

    // The last request the program sent, as "METHOD path".
    const std::string &lastRequest() const { return m_lastRequest; }

    int pendingRows()
    {
        int pending = 0;
        for (const LocalCloud::Row &row : m_cloud->rows())
            pending += row.status == "pending";
        return pending;
    }

    // The visible files of the folder, read once: those whose bytes are none of the documents sent
    // (half-written or foreign), and those that are one of them.
    struct FolderScan {
        int partial = 0;
        int documents = 0;
    };

    FolderScan scanFolder(const std::map<std::string, Phone::Sent> &sent)
    {
        std::set<std::string> known;
        for (const auto &[id, doc] : sent)
            known.insert(doc.sha);
        FolderScan scan;
        for (const auto &entry : fs::directory_iterator(m_target)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".") || name == "Notlar.txt")
                continue;
            const auto bytes = readFile(entry.path());
            if (!entry.is_regular_file() || !bytes || !known.count(localcloud::sha256Hex(*bytes))) {
                std::cerr << "  not a document sent: " << name << std::endl;
                ++scan.partial;
            } else {
                ++scan.documents;
            }
        }
        return scan;
    }

    int temporaries()
    {
        const std::regex shape(R"(\.tarvolin-[A-Za-z0-9]{6}\.part)");
        int found = 0;
        for (const auto &entry : fs::directory_iterator(m_target))
            found += entry.is_regular_file() && std::regex_match(entry.path().filename().string(), shape);
        return found;
    }

    struct Figures {
        int documents = 0, lost = 0, duplicated = 0, partial = 0, temporaries = 0, userFilesHarmed = 0,
            deletedBeforeAcknowledged = 0, acknowledgedBeforeSaved = 0, objectsLeft = 0, truncatedAcks = 0,
            sanitizerReports = 0;
    };

    Figures check(const std::map<std::string, Phone::Sent> &sent)
    {
        for (int i = 0; i < 100 && (collectLog(), !m_logComplete); ++i)
            sleepMs(100);
        Figures f;
        f.documents = int(sent.size());
        const FolderScan scan = scanFolder(sent);
        f.partial = scan.partial;
        std::map<std::string, std::string> pathOfRow;
        std::set<std::pair<std::string, std::string>> distinct;
        for (const LocalCloud::Row &row : m_cloud->rows()) {
            const auto doc = sent.find(row.id);
            if (doc == sent.end())
                continue;
            pathOfRow[row.id] = row.storagePath;
            distinct.emplace(doc->second.name, doc->second.sha);
            const auto bytes
                = row.downloadedFilename ? readFile(m_target / *row.downloadedFilename) : std::nullopt;
            if (row.status != "downloaded" || !bytes || localcloud::sha256Hex(*bytes) != doc->second.sha) {
                std::cerr << "  lost: row " << row.id << " " << doc->second.name << " (" << row.status << ")"
                          << std::endl;
                ++f.lost;
            }
        }
        f.temporaries = temporaries();
        f.duplicated = std::max(0, scan.documents - int(distinct.size()));
        f.userFilesHarmed = (readFile(m_target / "Notlar.txt") != std::optional<std::string>("benim\n"))
            + (readFile(m_target / ".tarvolin-ab.part") != std::optional<std::string>("benim\n"))
            + !fs::is_directory(m_target / ".tarvolin-ABCDEF.part");
        f.objectsLeft = int(m_cloud->objects().size());
        // A sanitizer build reports into the program's log and carries on (or dies, which the loops see).
        std::ifstream log(m_work / "app.log");
        for (std::string line; std::getline(log, line);)
            f.sanitizerReports += line.find("ERROR: AddressSanitizer") != std::string::npos
                || line.find("runtime error:") != std::string::npos;

        // The order on the wire: a row is acknowledged (and the backend said so) before its object goes.
        std::map<std::string, std::string> rowOfPath;
        for (const auto &[id, path] : pathOfRow)
            rowOfPath[path] = id;
        std::set<std::string> acknowledged;
        const std::string patchPrefix = "/rest/v1/transfer_items?id=eq.";
        for (const json &entry : m_log) {
            const std::string method = entry["method"], path = entry["path"];
            const int status = entry["status"].is_number() ? entry["status"].get<int>() : 0;
            const std::string fault = entry["fault"].is_string() ? entry["fault"].get<std::string>() : "";
            if (method == "PATCH" && path.starts_with(patchPrefix)) {
                if (fault == "truncate")
                    ++f.truncatedAcks;
                if (status == 204 && (fault.empty() || fault == "delay" || fault == "truncate"))
                    acknowledged.insert(path.substr(patchPrefix.size()));
            } else if (method == "DELETE" && path == "/storage/v1/object/expenses" && status == 200
                && (fault.empty() || fault == "delay" || fault == "truncate")) {
                const json body = json::parse(entry["body"].get<std::string>(), nullptr, false);
                if (!body.is_object() || !body["prefixes"].is_array())
                    continue;
                for (const json &prefix : body["prefixes"]) {
                    const auto row = rowOfPath.find(prefix.get<std::string>());
                    if (row != rowOfPath.end() && !acknowledged.count(row->second)) {
                        std::cerr << "  deleted before acknowledged: " << prefix << std::endl;
                        ++f.deletedBeforeAcknowledged;
                    }
                }
            }
        }
        for (const json &ack : admin("GET", "/_admin/acknowledgements"))
            if (!ack["matches"].get<bool>()) {
                std::cerr << "  acknowledged before saved: " << ack.dump() << std::endl;
                ++f.acknowledgedBeforeSaved;
            }
        return f;
    }

    static bool clean(const Figures &f)
    {
        return f.lost == 0 && f.duplicated == 0 && f.partial == 0 && f.temporaries == 0
            && f.userFilesHarmed == 0 && f.deletedBeforeAcknowledged == 0 && f.acknowledgedBeforeSaved == 0
            && f.sanitizerReports == 0;
    }

    static void print(const Figures &f)
    {
        std::cout << "documents " << f.documents << ", lost " << f.lost << ", duplicated " << f.duplicated
                  << ", partial " << f.partial << ", left-over temporaries " << f.temporaries
                  << ", user files harmed " << f.userFilesHarmed << ", deleted before acknowledged "
                  << f.deletedBeforeAcknowledged << ", acknowledged before saved "
                  << f.acknowledgedBeforeSaved << ", objects left in the bucket " << f.objectsLeft
                  << ", sanitizer reports " << f.sanitizerReports;
    }

    // Runs until every row is downloaded and the program is idle; false on time-out.
    bool drain(Program &program, double seconds)
    {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < until) {
            if (!program.alive())
                return false;
            const json state = program.state();
            if (state.is_object() && state.value("isWorking", true) == false && state.value("passes", 0) > 0
                && pendingRows() == 0) {
                collectLog();
                return true;
            }
            collectLog();
            sleepMs(100);
        }
        return false;
    }

private:
    fs::path m_work;
    fs::path m_target;
    std::unique_ptr<LocalCloud> m_cloud;
    std::int64_t m_logSeq = 0;
    bool m_logComplete = true;
    std::string m_lastRequest;
    std::vector<json> m_log;
};

// One set of certificates for every run, at the path the loop build of the program trusts.
void ensureCertificates()
{
    const fs::path dir = fs::path(LOOPS_DIR) / "tls";
    const int lock = ::open((fs::path(LOOPS_DIR) / "tls.lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0)
        fail("cannot lock " LOOPS_DIR "/tls.lock");
    if (!fs::exists(dir / "server-key.pem")) {
        const fs::path scratch = fs::path(LOOPS_DIR) / ("tls-make-" + std::to_string(getpid()));
        {
            LocalCloud maker(LocalCloud::Options{.dataDir = scratch.string()});
        }
        fs::rename(scratch / "tls", dir);
        fs::remove_all(scratch);
    }
    ::close(lock);
}

struct Options {
    int count = 0;
    int queue = 10;
    double rate = 0.2;
    std::uint64_t seed = 0;
    bool keep = false;
    bool verbose = false;
};

int crashLoop(Bench &bench, const Options &options)
{
    std::mt19937_64 random(options.seed);
    Phone phone(bench.cloud(), options.seed, 0.3);
    std::string computer;
    long peak = 0;
    int partialAtKill = 0;
    int temporariesAtKill = 0;
    int killsInPass = 0;
    int killsMidDocument = 0;
    int killsBeforeCleanup = 0;

    // How long a start and one pass of a full queue take: the kills fall uniformly within it.
    double window = 0;
    {
        Program pairing(bench.work(), 0);
        computer = bench.waitForComputer(pairing);
    }
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < options.queue; ++i)
            phone.send(computer);
        Program program(bench.work(), 0);
        if (!bench.drain(program, 300))
            fail("the first passes did not finish; see " + (bench.work() / "app.log").string());
        window = std::max(window, program.secondsSinceStart());
        peak = std::max(peak, program.peakKiB());
    }
    std::cout << "crash loop: seed " << options.seed << ", kill window " << window << " s" << std::endl;

    for (int kill = 1; kill <= options.count; ++kill) {
        // The phone keeps sending: the queue is topped up before each start.
        for (int pending = bench.pendingRows(); pending < options.queue; ++pending)
            phone.send(computer);
        Program program(bench.work(), 0);
        const double delay = std::uniform_real_distribution<double>(0, window)(random);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        if (!program.alive())
            fail("the program stopped on its own; see " + (bench.work() / "app.log").string());
        peak = std::max(peak, program.peakKiB());
        program.kill(SIGKILL);
        // What the user sees the moment the program dies: never a half document.
        partialAtKill += bench.scanFolder(phone.sent()).partial;
        const int temporaries = bench.temporaries();
        temporariesAtKill += temporaries;
        const bool inPass = bench.collectLog() > 0;
        killsInPass += inPass;
        if (options.verbose)
            std::cerr << "kill " << kill << " at " << delay
                      << " s: " << (inPass ? "in a pass" : "before listing") << ", temporaries "
                      << temporaries << ", last " << bench.lastRequest().substr(0, 40) << ", pending "
                      << bench.pendingRows() << std::endl;
        // Died with a document fetched or being fetched but not acknowledged, or acknowledged but not cleaned
        // up.
        const std::string &last = bench.lastRequest();
        killsMidDocument += inPass && last.starts_with("GET /storage/v1/object/sign/");
        killsBeforeCleanup += inPass && last.starts_with("PATCH ");
    }

    Program last(bench.work(), 500);
    if (!bench.drain(last, 300))
        fail("the queue was not emptied after the kills");
    peak = std::max(peak, last.peakKiB());
    last.kill(SIGTERM);
    Bench::Figures figures = bench.check(phone.sent());
    figures.partial += partialAtKill;
    std::cout << "crash loop: seed " << options.seed << ", kills " << options.count << ", ";
    Bench::print(figures);
    std::cout << ", peak memory " << peak / 1024 << " MiB; kills after a listing " << killsInPass
              << ", after a fetch began and before its acknowledgement " << killsMidDocument
              << ", between acknowledgement and clean-up " << killsBeforeCleanup
              << ", temporary files found after kills " << temporariesAtKill << std::endl;
    return Bench::clean(figures) ? 0 : 1;
}

int faultSoak(Bench &bench, const Options &options)
{
    Phone phone(bench.cloud(), options.seed, 0.01);
    Program program(bench.work(), 300);
    const std::string computer = bench.waitForComputer(program);

    // Every kind of failure, each equally likely, together `rate` of all requests.
    const std::vector<json> kinds{
        {{"kind", "status"}, {"status", 500}, {"body", R"({"message":"An internal error occurred"})"}},
        {{"kind", "status"}, {"status", 502}, {"body", "<html>Bad Gateway</html>"},
            {"contentType", "text/html"}},
        {{"kind", "status"}, {"status", 503}, {"body", R"({"message":"Service Unavailable"})"}},
        {{"kind", "status"}, {"status", 429}, {"body", R"({"message":"Too Many Requests"})"}},
        {{"kind", "drop"}},
        {{"kind", "truncate"}},
        {{"kind", "malformed"}},
        {{"kind", "delay"}, {"delayMs", 1500}},
    };
    const double each = 1 - std::pow(1 - options.rate, 1.0 / double(kinds.size()));
    // A document link answering 200 with bytes that are no document is refused for an hour, as it
    // should be, and the soak would never see it saved: that kind goes to every other request only,
    // each of which matches exactly one of these prefixes, so its share stays the same.
    const std::vector<std::pair<std::string, std::string>> everywhereButDocumentLinks{{"/rest/", "*"},
        {"/auth/", "*"}, {"/functions/", "*"}, {"/realtime/", "*"}, {"/storage/v1/object/sign/", "POST"},
        {"/storage/v1/object/expenses", "*"}};
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        json rule = kinds[i];
        rule["probability"] = each;
        rule["seed"] = options.seed + i + 1;
        const bool malformed = rule["kind"] == "malformed";
        const auto targets = malformed ? everywhereButDocumentLinks
                                       : std::vector<std::pair<std::string, std::string>>{{"/", "*"}};
        for (const auto &[path, method] : targets) {
            rule["path"] = path;
            rule["method"] = method;
            bench.admin("POST", "/_admin/faults", rule.dump());
        }
    }

    long stale = 0;
    std::map<std::string, int> errorsSeen;
    auto watch = [&] {
        const json state = program.state();
        const long now = long(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch())
                                  .count());
        if (!state.is_object() || now - state.value("heartbeatMs", 0L) > 3000)
            ++stale;
        if (state.is_object() && state["lastError"].is_string())
            ++errorsSeen[state["lastError"].get<std::string>()];
        program.peakKiB();
        if (!program.alive())
            fail("the program died during the soak; see " + (bench.work() / "app.log").string());
    };
    const auto began = Clock::now();
    for (int i = 0; i < options.count; ++i) {
        phone.send(computer);
        if (i % 2 == 1) {
            watch();
            bench.collectLog();
        }
        sleepMs(100);
    }
    // Let the faults go on a while after the last document, then stop them.
    for (int i = 0; i < 20; ++i) {
        watch();
        sleepMs(250);
    }
    const double faultySeconds = std::chrono::duration<double>(Clock::now() - began).count();
    const json rules = bench.admin("GET", "/_admin/faults");
    bench.admin("DELETE", "/_admin/faults");
    const int pendingWhenFaultsStopped = bench.pendingRows();
    const auto catchUp = Clock::now();
    const bool drained = bench.drain(program, 120 + options.count * 0.5);
    const double catchUpSeconds = std::chrono::duration<double>(Clock::now() - catchUp).count();
    watch();
    const json state = program.state();
    const long peak = program.peakKiB();
    program.kill(SIGTERM);

    Bench::Figures figures = bench.check(phone.sent());
    long faulted = 0;
    for (const json &rule : rules)
        faulted += rule.value("injected", 0L);
    const int downloadedToday = state.value("downloadedToday", -1);
    const int pendingCount = state.value("pendingCount", -1);
    // An acknowledgement whose answer was cut short did reach the table; the program could not know.
    const bool countersAgree = pendingCount == 0
        && downloadedToday + figures.truncatedAcks >= figures.documents
        && downloadedToday <= figures.documents;
    std::cout << "fault soak: seed " << options.seed << ", rate " << options.rate << ", faulted requests "
              << faulted << ", " << faultySeconds << " s with faults, " << pendingWhenFaultsStopped
              << " pending when they stopped, caught up in " << catchUpSeconds << " s, ";
    Bench::print(figures);
    std::cout << ", downloadedToday " << downloadedToday << ", pendingCount " << pendingCount
              << ", truncated acknowledgements " << figures.truncatedAcks << ", stale heartbeats " << stale
              << ", last error " << state.value("lastError", json()).dump() << ", peak memory " << peak / 1024
              << " MiB" << std::endl;
    // What the user read meanwhile: each text should say what went wrong, in Turkish.
    for (const auto &[text, times] : errorsSeen)
        std::cout << "  shown " << times << " times: " << text << std::endl;
    return drained && countersAgree && stale == 0 && Bench::clean(figures) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || (std::string(argv[1]) != "crash" && std::string(argv[1]) != "soak"))
        fail("usage: tarvolin_loops crash [--kills N] [--queue K] | soak [--documents N] [--rate R]"
             " [--seed S] [--keep]");
    const bool crash = std::string(argv[1]) == "crash";
    Options options;
    options.count = crash ? 100 : 1000;
    options.seed = std::random_device()();
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&] {
            if (i + 1 >= argc)
                fail(arg + " needs a value");
            return std::string(argv[++i]);
        };
        if (arg == "--kills" || arg == "--documents")
            options.count = std::stoi(next());
        else if (arg == "--queue")
            options.queue = std::stoi(next());
        else if (arg == "--rate")
            options.rate = std::stod(next());
        else if (arg == "--seed")
            options.seed = std::stoull(next());
        else if (arg == "--keep")
            options.keep = true;
        else if (arg == "--verbose")
            options.verbose = true;
        else
            fail("unknown argument " + arg);
    }
    // Never the user's own keyring: the session written here must be a throw-away one.
    if (!std::getenv("TARVOLIN_PRIVATE_KEYRING"))
        fail("run under tests/app/with-secret-service.sh");
    ensureCertificates();
    std::string pattern = (fs::temp_directory_path() / "tarvolin-loops-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fail("cannot make a work folder");
    const fs::path work = pattern;
    int result = 0;
    {
        Bench bench(work);
        result = crash ? crashLoop(bench, options) : faultSoak(bench, options);
    }
    if (options.keep || result != 0)
        std::cout << "work folder kept: " << work.string() << std::endl;
    else
        fs::remove_all(work);
    return result;
}
