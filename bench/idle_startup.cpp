// What the configurator costs when it does nothing, and what it takes to
// start. Prints figures beside their targets; run by hand (about 75 s):
//   build/bin/idle_startup [--idle-seconds N] [--runs N] [--skip-idle] [--skip-startup]
//
// 1. Idle: the real vxrt7-config, copied into a temporary folder so that its
//    settings file lands there, runs on the offscreen platform with --port at
//    the --link path of a vxrt7-sim. Once the simulator's traces show the
//    greeting exchange ("CONFO" in, "VELIRAN" out) and a few seconds more
//    have passed, the CPU time and the context switches (wake-ups) of every
//    thread are read from /proc before and after the window. Beside it, for
//    context, a second configurator searches for a device that never answers
//    (vxrt7-sim --no-reply: the port timer greets once a second); its window
//    starts at its first "CONFO". The two run at the same time.
// 2. Start-up: first_paint_config (the program entry of vxrt7-config) and
//    first_paint_bare (a bare window with a 650-row table) are started in
//    turn, and with them first_paint_config as installed: `cmake --install`
//    of this build into a staging prefix, the probe copied into its bin/
//    beside the installed vxrt7-config (module in lib/, settings in
//    $XDG_CONFIG_HOME). Each reports the moment its window's first paint completed, and
//    the time is taken from just before the launcher spawned it. Peak memory
//    is ru_maxrss of the child.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// Ends the run; the processes started so far are stopped on the way out.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void die(const std::string& message) {
    throw Failure(message);
}

fs::path binDir() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// --- child processes ---------------------------------------------------------

// The launcher's environment with QT_QPA_PLATFORM=offscreen.
std::vector<std::string> offscreenEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) {
            env.emplace_back(*e);
        }
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    return env;
}

// Starts `program` with stdout going to `stdoutFd` (or to `outFile`) and
// stderr to `errFile`. Returns the pid.
pid_t spawn(const fs::path& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env, int stdoutFd, const fs::path& outFile,
            const fs::path& errFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<char*> argv;
    const std::string programText = program.string();
    argv.push_back(const_cast<char*>(programText.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, programText.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        die("cannot start " + programText + ": " + std::strerror(rc));
    }
    return pid;
}

// Sends `sig`, waits up to 5 s for the end, then kills. Returns the status.
int stopChild(pid_t pid, int sig = SIGTERM, rusage* usage = nullptr) {
    if (pid <= 0) {
        return -1;
    }
    ::kill(pid, sig);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        const pid_t r = ::wait4(pid, &status, WNOHANG, usage);
        if (r == pid) {
            return status;
        }
        if (r < 0) {
            return -1;
        }
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, usage);
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// A started program, stopped with SIGTERM when it goes out of scope.
class ChildProcess {
  public:
    ChildProcess() = default;
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess& operator=(ChildProcess&& other) noexcept {
        stop();
        pid_ = std::exchange(other.pid_, -1);
        return *this;
    }
    pid_t pid() const { return pid_; }
    // False once it has ended; an ended child is reaped here.
    bool alive() const {
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) != 0) {
            pid_ = -1;
        }
        return pid_ > 0;
    }
    void stop() {
        stopChild(pid_);
        pid_ = -1;
    }

  private:
    mutable pid_t pid_ = -1;
};

// --- per-thread counters -------------------------------------------------------

struct TaskSample {
    std::string name;
    long long ticks = 0;    // utime + stime, clock ticks
    long long switches = 0; // voluntary + nonvoluntary context switches
    long long runNs = 0;    // time on a CPU (schedstat), ns
};

// The fields after the command name of a /proc stat line ("S ppid ..."), and
// the name itself.
bool parseStat(const std::string& line, std::string* name, std::vector<std::string>* fields) {
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    *name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    fields->clear();
    for (std::string f; rest >> f;) {
        fields->push_back(f);
    }
    // utime and stime are fields 14 and 15 of the line: 11 and 12 after ')'.
    return fields->size() > 12;
}

long long statusValue(const std::string& status, const char* key) {
    const auto at = status.find(key);
    return at == std::string::npos ? 0 : std::atoll(status.c_str() + at + std::strlen(key));
}

std::map<int, TaskSample> sampleTasks(pid_t pid) {
    std::map<int, TaskSample> tasks;
    const fs::path taskDir = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(taskDir, ec)) {
        const int tid = std::atoi(entry.path().filename().c_str());
        TaskSample s;
        std::vector<std::string> fields;
        if (!parseStat(readFile(entry.path() / "stat"), &s.name, &fields)) {
            continue; // the thread ended while we looked
        }
        s.ticks = std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
        const std::string status = readFile(entry.path() / "status");
        s.switches = statusValue(status, "\nvoluntary_ctxt_switches:") +
                     statusValue(status, "\nnonvoluntary_ctxt_switches:");
        s.runNs = std::atoll(readFile(entry.path() / "schedstat").c_str());
        tasks[tid] = s;
    }
    return tasks;
}

// utime + stime of the whole process, threads that have ended included.
long long processTicks(pid_t pid) {
    std::string name;
    std::vector<std::string> fields;
    if (!parseStat(readFile("/proc/" + std::to_string(pid) + "/stat"), &name, &fields)) {
        return -1;
    }
    return std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
}

struct IdleFigures {
    double seconds = 0;
    double cpuSeconds = 0;    // utime + stime over all threads
    double cpuRunSeconds = 0; // schedstat over all threads (ns resolution)
    double processCpuSeconds = 0;
    long long switches = 0;
    double wakeupsPerSecond = 0;
    double corePercent = 0;
    std::size_t bytesSent = 0; // what the configurator sent the device meanwhile
    std::vector<std::string> threadLines;
    int threadsGone = 0;
};

IdleFigures difference(const std::map<int, TaskSample>& before,
                       const std::map<int, TaskSample>& after, double seconds,
                       long long ticksBefore, long long ticksAfter) {
    const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    IdleFigures f;
    f.seconds = seconds;
    for (const auto& [tid, a] : after) {
        TaskSample b;
        if (const auto it = before.find(tid); it != before.end()) {
            b = it->second;
        }
        const long long ticks = a.ticks - b.ticks;
        const long long switches = a.switches - b.switches;
        const long long runNs = a.runNs - b.runNs;
        f.cpuSeconds += static_cast<double>(ticks) * tick;
        f.cpuRunSeconds += static_cast<double>(runNs) / 1e9;
        f.switches += switches;
        char line[160];
        std::snprintf(
            line, sizeof line, "    %-16s tid %-7d %6lld wake-ups (%5.2f/s)  CPU %8.4f s%s",
            a.name.c_str(), tid, switches, static_cast<double>(switches) / seconds,
            static_cast<double>(runNs) / 1e9, before.count(tid) ? "" : "  (new in the window)");
        f.threadLines.emplace_back(line);
    }
    for (const auto& [tid, b] : before) {
        if (!after.count(tid)) {
            ++f.threadsGone;
        }
    }
    f.processCpuSeconds = static_cast<double>(ticksAfter - ticksBefore) * tick;
    f.wakeupsPerSecond = static_cast<double>(f.switches) / seconds;
    f.corePercent = f.cpuRunSeconds / seconds * 100.0;
    return f;
}

// --- the idle runs ---------------------------------------------------------------

// One configurator linked to one simulator on a pseudo-terminal, in a folder
// of its own.
class LinkedPair {
  public:
    LinkedPair(const fs::path& dir, const std::vector<std::string>& simExtra) : dir_(dir) {
        fs::create_directories(dir_);
        const fs::path bin = binDir();
        std::vector<std::string> simArgs = {"--link",      (dir_ / "tty").string(),
                                            "--trace",     (dir_ / "trace-in").string(),
                                            "--trace-out", (dir_ / "trace-out").string()};
        simArgs.insert(simArgs.end(), simExtra.begin(), simExtra.end());
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            env.emplace_back(*e);
        }
        sim_ = ChildProcess(
            spawn(bin / "vxrt7-sim", simArgs, env, -1, dir_ / "sim.out", dir_ / "sim.err"));
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!fs::is_symlink(dir_ / "tty")) {
            if (Clock::now() > deadline || !sim_.alive()) {
                die("the simulator made no link in " + dir_.string() + ": " +
                    readFile(dir_ / "sim.err"));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // The settings file is written beside the program: keep it here.
        fs::copy_file(bin / "vxrt7-config", dir_ / "vxrt7-config",
                      fs::copy_options::overwrite_existing);
        config_ = ChildProcess(spawn(dir_ / "vxrt7-config", {"--port", (dir_ / "tty").string()},
                                     offscreenEnvironment(), -1, dir_ / "config.out",
                                     dir_ / "config.err"));
    }

    pid_t configPid() const { return config_.pid(); }
    bool configAlive() const { return config_.alive(); }
    std::string received() const { return readFile(dir_ / "trace-in"); }
    std::string sent() const { return readFile(dir_ / "trace-out"); }
    std::string configErrors() const { return readFile(dir_ / "config.err"); }

    // The configurator first, so that its closing words reach the device.
    void stop() {
        config_.stop();
        sim_.stop();
    }

  private:
    fs::path dir_;
    // Declared in this order so that the configurator is stopped first.
    ChildProcess sim_;
    ChildProcess config_;
};

struct Window {
    LinkedPair* pair = nullptr;
    std::function<bool()> ready; // the moment to start counting has come
    std::optional<Clock::time_point> readyAt;
    double settleSeconds = 0; // wait this long after ready
    std::optional<Clock::time_point> start;
    std::map<int, TaskSample> before;
    long long ticksBefore = 0;
    std::size_t receivedBefore = 0;
    std::optional<IdleFigures> figures;
};

// Runs both windows at once; each starts on its own signal.
void runWindows(std::vector<Window*> windows, double seconds) {
    const auto giveUp = Clock::now() + std::chrono::seconds(30);
    for (;;) {
        bool allDone = true;
        for (Window* w : windows) {
            if (w->figures) {
                continue;
            }
            allDone = false;
            const auto now = Clock::now();
            if (!w->pair->configAlive()) {
                die("the configurator ended early: " + w->pair->configErrors());
            }
            if (!w->readyAt) {
                if (w->ready()) {
                    w->readyAt = now;
                } else if (now > giveUp) {
                    die("the configurator never got to the point of measuring: " +
                        w->pair->configErrors());
                }
                continue;
            }
            if (!w->start) {
                if (now - *w->readyAt >= std::chrono::duration<double>(w->settleSeconds)) {
                    w->start = now;
                    w->before = sampleTasks(w->pair->configPid());
                    w->ticksBefore = processTicks(w->pair->configPid());
                    w->receivedBefore = w->pair->received().size();
                }
                continue;
            }
            const double elapsed = std::chrono::duration<double>(now - *w->start).count();
            if (elapsed >= seconds) {
                const auto after = sampleTasks(w->pair->configPid());
                const long long ticksAfter = processTicks(w->pair->configPid());
                w->figures = difference(w->before, after, elapsed, w->ticksBefore, ticksAfter);
                w->figures->bytesSent = w->pair->received().size() - w->receivedBefore;
            }
        }
        if (allDone) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void printIdle(const char* title, const IdleFigures& f) {
    std::printf("%s: %.1f s window\n", title, f.seconds);
    std::printf("  CPU %.3f s by utime+stime (process-wide %.3f s), %.4f s on a CPU by "
                "schedstat = %.4f %% of a core\n",
                f.cpuSeconds, f.processCpuSeconds, f.cpuRunSeconds, f.corePercent);
    std::printf("  wake-ups %lld = %.2f per second; the device was sent %zu bytes\n", f.switches,
                f.wakeupsPerSecond, f.bytesSent);
    for (const auto& line : f.threadLines) {
        std::printf("%s\n", line.c_str());
    }
    if (f.threadsGone > 0) {
        std::printf("    (%d threads ended during the window; their switches are not counted)\n",
                    f.threadsGone);
    }
}

// --- start-up -------------------------------------------------------------------

struct StartupRun {
    double paintMs = 0; // spawn -> first paint completed
    double mainMs = 0;  // spawn -> main()
    double appMs = 0;   // spawn -> application object made
    double windowMs = 0;
    double shownMs = 0;
    double cpuMs = 0;  // CPU time of the child by then
    long maxRssKb = 0; // ru_maxrss of the child
    long hwmKb = 0;    // VmHWM of the child when its window had been drawn
    int outer = 0;     // the event type whose dispatch contained the first paint
};

StartupRun runProbe(const fs::path& program, const std::vector<std::string>& args,
                    const fs::path& errFile, const std::vector<std::string>& extraEnv = {}) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        die("pipe");
    }
    auto env = offscreenEnvironment();
    for (const auto& extra : extraEnv) {
        const auto name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        env.push_back(extra);
    }
    const std::int64_t t0 = monotonicNs();
    const pid_t pid = spawn(program, args, env, out[1], {}, errFile);
    ::close(out[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    rusage usage{};
    int status = 0;
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        die(program.string() + " ended with status " + std::to_string(status) + ": " +
            readFile(errFile));
    }
    long long mainNs = 0, appNs = 0, windowNs = 0, shownNs = 0, paintedNs = 0, cpuNs = 0;
    long hwm = 0;
    int outer = 0;
    if (std::sscanf(text.c_str(),
                    "first_paint main=%lld app=%lld window=%lld shown=%lld painted=%lld "
                    "cpu=%lld hwm_kb=%ld outer=%d",
                    &mainNs, &appNs, &windowNs, &shownNs, &paintedNs, &cpuNs, &hwm, &outer) != 8) {
        die(program.string() + " reported no first paint (status " + std::to_string(status) +
            "): " + readFile(errFile));
    }
    auto ms = [&](long long ns) { return static_cast<double>(ns - t0) / 1e6; };
    StartupRun r;
    r.mainMs = ms(mainNs);
    r.appMs = ms(appNs);
    r.windowMs = ms(windowNs);
    r.shownMs = ms(shownNs);
    r.paintMs = ms(paintedNs);
    r.cpuMs = static_cast<double>(cpuNs) / 1e6;
    r.maxRssKb = usage.ru_maxrss;
    r.hwmKb = hwm;
    r.outer = outer;
    return r;
}

struct Spread {
    double median = 0, min = 0, max = 0;
};

Spread spreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    Spread s;
    if (v.empty()) {
        return s;
    }
    const std::size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

template <typename F> Spread spreadOf(const std::vector<StartupRun>& runs, F field) {
    std::vector<double> v;
    for (const auto& r : runs) {
        v.push_back(field(r));
    }
    return spreadOf(v);
}

std::string loadAverage() {
    std::string text = readFile("/proc/loadavg");
    if (const auto space = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
        space != std::string::npos) {
        text.resize(space);
    }
    return text;
}

struct Settings {
    double idleSeconds = 60;
    int runs = 10;
    bool idle = true;
    bool startup = true;
};

void runIdle(const Settings& settings, const fs::path& work, std::optional<IdleFigures>* linked,
             std::optional<IdleFigures>* searching) {
    LinkedPair linkedPair(work / "linked", {});
    LinkedPair searchPair(work / "searching", {"--no-reply"});
    Window linkedWindow;
    linkedWindow.pair = &linkedPair;
    linkedWindow.settleSeconds = 3; // the next port tick stops the port timer
    linkedWindow.ready = [&] {
        return linkedPair.received().find("CONFO") != std::string::npos &&
               linkedPair.sent().find("VELIRAN") != std::string::npos;
    };
    Window searchWindow;
    searchWindow.pair = &searchPair;
    searchWindow.ready = [&] { return searchPair.received().find("CONFO") != std::string::npos; };
    runWindows({&linkedWindow, &searchWindow}, settings.idleSeconds);
    *linked = linkedWindow.figures;
    *searching = searchWindow.figures;
    printIdle("Linked and idle", **linked);
    printIdle("Searching (no answer, port timer running)", **searching);
    std::printf("  \"CONFO\" sent while searching: %zu in its whole run\n",
                countOf(searchPair.received(), "CONFO"));
    std::fflush(stdout);
}

// `cmake --install` of the build this benchmark belongs to into `stage`;
// returns the installed bin/ folder with the start-up probe copied into it.
fs::path stageInstall(const fs::path& stage) {
    const fs::path build = binDir().parent_path();
    const std::string command = "DESTDIR='" + stage.string() + "' cmake --install '" +
                                build.string() + "' --prefix /usr >'" +
                                (stage.parent_path() / "install.log").string() + "' 2>&1";
    if (std::system(command.c_str()) != 0) {
        die("cmake --install into the staging prefix failed: see install.log");
    }
    const fs::path bin = stage / "usr" / "bin";
    fs::copy_file(binDir() / "first_paint_config", bin / "first_paint_config",
                  fs::copy_options::overwrite_existing);
    return bin;
}

void runStartup(const Settings& settings, const fs::path& work, std::vector<StartupRun>* bare,
                std::vector<StartupRun>* config, std::vector<StartupRun>* installed) {
    const fs::path bin = binDir();
    const fs::path dir = work / "startup";
    fs::create_directories(dir);
    // What every child starts from: ru_maxrss of a program that does nothing
    // (a child's figure counts the launcher's pages it was spawned from).
    long floorKb = 0;
    {
        const pid_t pid = spawn("/bin/true", {}, {}, -1, "/dev/null", dir / "true.err");
        rusage usage{};
        int status = 0;
        ::wait4(pid, &status, 0, &usage);
        floorKb = usage.ru_maxrss;
    }
    const std::vector<std::string> configArgs = {"--settings", (dir / "Сonfig.ini").string(),
                                                 "--port", (dir / "no-such-tty").string()};
    auto runBare = [&] { return runProbe(bin / "first_paint_bare", {}, dir / "bare.err"); };
    auto runConfig = [&] {
        return runProbe(bin / "first_paint_config", configArgs, dir / "config.err");
    };
    const fs::path installedBin = stageInstall(dir / "stage");
    const std::vector<std::string> installedArgs = {"--port", (dir / "no-such-tty").string()};
    const std::vector<std::string> installedEnv = {"XDG_CONFIG_HOME=" + (dir / "xdg").string()};
    auto runInstalled = [&] {
        return runProbe(installedBin / "first_paint_config", installedArgs, dir / "installed.err",
                        installedEnv);
    };
    // One warm-up run of each so that all start from a warm page cache.
    runBare();
    runConfig();
    runInstalled();
    if (!fs::exists(dir / "xdg" / "vxrt7-config" / "Сonfig.ini")) {
        die("the installed probe kept no settings in $XDG_CONFIG_HOME/vxrt7-config/");
    }
    const std::function<void()> order[] = {[&] { bare->push_back(runBare()); },
                                           [&] { config->push_back(runConfig()); },
                                           [&] { installed->push_back(runInstalled()); }};
    for (int i = 0; i < settings.runs; ++i) {
        // Rotate the order so that none always follows another.
        for (int k = 0; k < 3; ++k) {
            order[(i + k) % 3]();
        }
    }
    std::printf("\nStart-up, %d runs each (ms from spawn; median [min..max])\n", settings.runs);
    std::printf("  %-24s %-22s %-22s %-22s\n", "", "bare window", "configurator",
                "installed configurator");
    const std::pair<const char*, std::function<double(const StartupRun&)>> rows[] = {
        {"main() entered", [](const StartupRun& r) { return r.mainMs; }},
        {"QApplication made", [](const StartupRun& r) { return r.appMs; }},
        {"window built", [](const StartupRun& r) { return r.windowMs; }},
        {"show() returned", [](const StartupRun& r) { return r.shownMs; }},
        {"first paint completed", [](const StartupRun& r) { return r.paintMs; }},
        {"CPU by then (ms)", [](const StartupRun& r) { return r.cpuMs; }},
        {"ru_maxrss (MiB)",
         [](const StartupRun& r) { return static_cast<double>(r.maxRssKb) / 1024; }},
        {"VmHWM at paint (MiB)",
         [](const StartupRun& r) { return static_cast<double>(r.hwmKb) / 1024; }},
    };
    for (const auto& [label, field] : rows) {
        const Spread b = spreadOf(*bare, field);
        const Spread c = spreadOf(*config, field);
        const Spread n = spreadOf(*installed, field);
        char left[64];
        char right[64];
        char third[64];
        std::snprintf(left, sizeof left, "%.1f [%.1f..%.1f]", b.median, b.min, b.max);
        std::snprintf(right, sizeof right, "%.1f [%.1f..%.1f]", c.median, c.min, c.max);
        std::snprintf(third, sizeof third, "%.1f [%.1f..%.1f]", n.median, n.min, n.max);
        std::printf("  %-24s %-22s %-22s %-22s\n", label, left, right, third);
    }
    std::printf("  (ru_maxrss of /bin/true spawned the same way: %.1f MiB; the first paint came "
                "inside a QEvent of type %d for the bare window, %d for the configurator)\n",
                static_cast<double>(floorKb) / 1024, bare->front().outer, config->front().outer);
}

void printSummary(const std::optional<IdleFigures>& linked,
                  const std::optional<IdleFigures>& searching, const std::vector<StartupRun>& bare,
                  const std::vector<StartupRun>& config, const std::vector<StartupRun>& installed) {
    std::printf("\n%-44s %-14s %-10s %s\n", "Figure", "measured", "target", "met");
    auto row = [](const char* what, double value, const char* unit, const char* target,
                  std::optional<double> limit) {
        char measured[32];
        std::snprintf(measured, sizeof measured, "%.3g%s", value, unit);
        std::printf("%-44s %-14s %-10s %s\n", what, measured, target,
                    !limit            ? "-"
                    : value <= *limit ? "yes"
                                      : "NO");
    };
    if (linked && searching) {
        row("linked idle: wake-ups per second", linked->wakeupsPerSecond, "/s", "<= 1/s", 1.0);
        row("linked idle: CPU, % of a core", linked->corePercent, " %", "< 0.1 %", 0.1);
        row("searching: wake-ups per second", searching->wakeupsPerSecond, "/s", "(context)",
            std::nullopt);
        row("searching: CPU, % of a core", searching->corePercent, " %", "(context)", std::nullopt);
    }
    if (!bare.empty()) {
        auto median = [](const std::vector<StartupRun>& runs, double StartupRun::*field) {
            return spreadOf(runs, [field](const StartupRun& r) { return r.*field; }).median;
        };
        auto rss = [](const std::vector<StartupRun>& runs) {
            return spreadOf(runs, [](const StartupRun& r) { return double(r.maxRssKb); }).median;
        };
        row("start-up to first paint, x bare window",
            median(config, &StartupRun::paintMs) / median(bare, &StartupRun::paintMs), "x",
            "<= 1.3x", 1.3);
        row("  (CPU to first paint, x bare window)",
            median(config, &StartupRun::cpuMs) / median(bare, &StartupRun::cpuMs), "x", "",
            std::nullopt);
        row("peak resident memory, x bare window", rss(config) / rss(bare), "x", "<= 1.3x", 1.3);
        // Not slower than the build-folder program; 5 % is the noise of two shared cores.
        row("installed start-up, x build-folder program",
            median(installed, &StartupRun::paintMs) / median(config, &StartupRun::paintMs), "x",
            "<= 1.05x", 1.05);
    }
}

// A folder of our own under /tmp, removed at the end.
class WorkDir {
  public:
    WorkDir() {
        char name[] = "/tmp/vxrt7-idle-startup.XXXXXX";
        if (!::mkdtemp(name)) {
            die(std::string("mkdtemp: ") + std::strerror(errno));
        }
        path_ = name;
    }
    ~WorkDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--idle-seconds" && i + 1 < argc) {
            settings.idleSeconds = std::max(1.0, std::atof(argv[++i]));
        } else if (a == "--runs" && i + 1 < argc) {
            settings.runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--skip-idle") {
            settings.idle = false;
        } else if (a == "--skip-startup") {
            settings.startup = false;
        } else {
            std::fprintf(stderr, "usage: idle_startup [--idle-seconds N] [--runs N] "
                                 "[--skip-idle] [--skip-startup]\n");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    try {
        const WorkDir work;
        std::printf("idle_startup: %s, %ld cores online, load average %s at start\n",
                    binDir().c_str(), sysconf(_SC_NPROCESSORS_ONLN), loadAverage().c_str());
        std::fflush(stdout);
        std::optional<IdleFigures> linked;
        std::optional<IdleFigures> searching;
        if (settings.idle) {
            runIdle(settings, work.path(), &linked, &searching);
        }
        std::vector<StartupRun> bare;
        std::vector<StartupRun> config;
        std::vector<StartupRun> installed;
        if (settings.startup) {
            runStartup(settings, work.path(), &bare, &config, &installed);
        }
        printSummary(linked, searching, bare, config, installed);
        std::printf("load average at the end: %s\n", loadAverage().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "idle_startup: %s\n", e.what());
        return 1;
    }
    return 0;
}
