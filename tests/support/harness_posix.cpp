// Test support on the stand-in: the program runs as a real process; its
// boxes take their answers from the emulated machine's scripted list.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "harness.h"
#include "machine.h"

namespace fs = std::filesystem;

namespace zt {

std::string AppPath() { return ZARNO_APP; }
std::string DeployPath() { return ZARNO_DEPLOY; }
int PlatformExit(int windowsCode) { return windowsCode & 0xFF; }
bool RealShell() { return false; }

bool MakeHostLink(const std::string& link, const std::string& target) {
    return symlink(target.c_str(), link.c_str()) == 0;
}
std::string BuiltFile(const std::string&) { return std::string(); }
bool RegistryAddsNul() { return false; }
bool CanRefuseMachineRights() { return true; }
bool RestartManagerNamesPrograms() { return true; }

static bool replaced, hadMachine;
static std::string previousMachine;

void FreshMachine(const std::string& sandbox) {
    if (!replaced) {
        const char* previous = getenv("ZARNOUNS_MACHINE");
        hadMachine = previous != nullptr;
        previousMachine = previous ? previous : "";
        replaced = true;
    }
    std::string machine = sandbox + "/machine";
    fs::create_directories(machine);
    setenv("ZARNOUNS_MACHINE", machine.c_str(), 1);
}

void RestoreMachine() {
    if (!replaced) return;
    if (hadMachine)
        setenv("ZARNOUNS_MACHINE", previousMachine.c_str(), 1);
    else
        unsetenv("ZARNOUNS_MACHINE");
    replaced = false;
}

// The stand-in's switches are files in the machine directory.
static void SetMachineSwitch(const char* name, bool on) {
    std::string flag = MachinePath(name);
    if (on)
        std::ofstream(flag) << "1\n";
    else
        fs::remove(flag);
}

void SetLocalSystem(bool on) { SetMachineSwitch("system", on); }
void SetNonAdmin(bool on) { SetMachineSwitch("nonadmin", on); }

bool SetDisplayLanguage(LANGID language) {
    char hex[8];
    snprintf(hex, sizeof hex, "%04x\n", (unsigned)language);
    std::ofstream(MachinePath("language")) << hex;
    return true;
}

static const char* AnswerWord(Answer a) {
    switch (a) {
        case Yes: return "yes";
        case No: return "no";
        case Cancel: return "cancel";
        case Ok: return "ok";
        case Close: return "close";
        case Retry: return "retry";
        case Free: return "free";
        case Act: return "act";
        case TryAgain: return "tryagain";
        case Continue: return "continue";
        default: return "fail";
    }
}

static std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

static std::vector<Box> TakeBoxes() {
    std::vector<Box> boxes;
    std::string log = MachinePath("boxes.log");
    std::ifstream f(log, std::ios::binary);
    std::string line;
    while (std::getline(f, line)) {
        size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        Box box;
        box.caption = Unescape(line.substr(a + 1, b - a - 1));
        box.text = Unescape(line.substr(b + 1));
        if (line.compare(0, a, "runas") == 0) {
            // The elevation prompt: the program and its parameters.
            box.text = "\"" + box.caption + "\" " + box.text;
            box.caption = ElevationPrompt;
            box.buttons = "Yes No";
            boxes.push_back(box);
            continue;
        }
        unsigned type = std::stoul(line.substr(0, a));
        box.buttons = (type & 0xF) == MB_YESNOCANCEL   ? "Yes No Cancel"
                      : (type & 0xF) == MB_RETRYCANCEL ? "Retry Cancel"
                      : (type & 0xF) == MB_CANCELTRYCONTINUE ? "Cancel Try Again Continue"
                      : (type & 0xF) == 0              ? "OK"
                                                       : "?";
        box.icon = (type & MB_ICONMASK) != 0;
        boxes.push_back(box);
    }
    f.close();
    fs::remove(log);
    return boxes;
}

static double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

Result RunApp(const std::string& exe, const std::vector<std::string>& args,
           const std::vector<Answer>& answers, const std::string& cwd, const char* argv0,
           const std::function<void()>& act) {
    Result r;
    // The answers from `from` on; a run that `act` makes writes its own.
    auto writeAnswers = [&](size_t from) {
        std::ofstream f(MachinePath("answers"));
        for (size_t i = from; i < answers.size(); i++) f << AnswerWord(answers[i]) << "\n";
    };
    writeAnswers(0);
    size_t acted = 0;  // answers up to the last Act acted on
    fs::remove(MachinePath("boxes.log"));
    int out[2], go[2];
    if (pipe(out) != 0 || pipe(go) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // Started once the test is ready for its boxes (see below).
        char c;
        close(go[1]);
        if (read(go[0], &c, 1) != 1) _exit(126);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(argv0 ? argv0 : exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    // At an Act the stand-in's box of the run's process group makes the file
    // "act.PGID" and waits until it has gone.
    std::string acting = MachinePath("act." + std::to_string(pid));
    const bool acts = std::find(answers.begin(), answers.end(), Act) != answers.end();
    close(go[0]);
    if (write(go[1], "g", 1) != 1) ADD_FAILURE() << "cannot start " << exe;
    close(go[1]);
    // Read until every process holding the output has ended (the copy that
    // "-u" starts inherits it), within a hard limit.
    double deadline = Now() + 30;
    char buf[4096];
    for (;;) {
        if (acts && fs::exists(acting)) {
            // The boxes so far are taken first: a run of `act` takes its own.
            std::vector<Box> shown = TakeBoxes();
            r.boxes.insert(r.boxes.end(), shown.begin(), shown.end());
            act();
            acted = std::find(answers.begin() + acted, answers.end(), Act) - answers.begin() + 1;
            writeAnswers(acted);
            fs::remove(acting);
        }
        pollfd p{out[0], POLLIN, 0};
        int left = std::min((int)((deadline - Now()) * 1000), acts ? 10 : 1 << 30);
        if (left <= 0) {
            r.timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        if (poll(&p, 1, left) <= 0) continue;
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        r.out.append(buf, n);
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    fs::remove(acting);
    std::vector<Box> later = TakeBoxes();
    r.boxes.insert(r.boxes.end(), later.begin(), later.end());
    fs::remove(MachinePath("answers"));
    return r;
}

// As under Wine, a *.dll is loaded, any other file held without delete sharing.
void HoldFile(const std::string& path, const std::string& program) {
    bool dll = path.size() > 4 && path.compare(path.size() - 4, 4, ".dll") == 0;
    std::ofstream(MachinePath("inuse"), std::ios::app)
        << path << "\t" << program << (dll ? "\tloaded" : "") << "\n";
}

// Windows deletes what is scheduled, in order; a folder not empty by then stays.
void Restart() {
    const char* manager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    DWORD type = 0;
    std::string list;
    if (!ReadValue(HKEY_LOCAL_MACHINE, manager, "PendingFileRenameOperations", &type, &list)) return;
    for (size_t at = 0; at < list.size() && list[at] != '\0';) {
        std::string from = list.c_str() + at;
        at += from.size() + 1;
        std::string to = list.c_str() + at;
        at += to.size() + 1;
        std::error_code ec;
        if (to.empty()) fs::remove(from.substr(4), ec);
    }
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, manager, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
}

void FreeHeldFiles() {
    std::error_code ec;
    fs::remove(MachinePath("inuse"), ec);
}

void PlantProgram(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "#!/bin/sh\necho \"$0 $*\" >>\"$(dirname \"$0\")/planted.log\"\n";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
}

// Read-only, the stand-in does not overwrite it (as Windows does not
// overwrite a file in use).
void RemovePlantedProgram(const std::string& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove(path, ec);
}

}  // namespace zt
