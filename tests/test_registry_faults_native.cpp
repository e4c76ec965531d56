// Native build only: the stand-in's registry when a writer dies. A child
// process changes the registry through the Win32 calls and dies at a random
// moment, round after round. After every death the registry must read back
// as it stood before or after each call the writer made, never something in
// between; the keys written before the rounds must be untouched, byte for
// byte; and the next writer must go ahead unhindered by whatever the dead one
// left behind (its lock, its half-written temporary file).
//
// Each round's child runs a list of changes (values set to a new version, a
// key created and its predecessor deleted, a value set and deleted in turn,
// in some rounds a large value so that one call takes measurable time) and
// reports on a pipe as it starts and finishes each call. In most rounds the
// parent kills it with SIGKILL at a random point of one of its first calls.
// As the stretch between writing the new file and renaming it is short on a
// fast disk, the other rounds set a file size limit before one of the calls
// instead, so that the kernel kills the writer (SIGXFSZ) with its new file
// written up to a random byte. The seed is printed; ZARNO_FAULT_SEED=N
// repeats a run's choices (not its timing) and ZARNO_FAULT_ROUNDS=N runs more
// rounds.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "machine.h"

namespace fs = std::filesystem;
using namespace zt;

namespace {

const char* const Target = "Software\\ZtFaults\\Target";  // under HKEY_CURRENT_USER
const int StepsPerRound = 4;
const size_t BulkSize = 8 * 1024;

// --- A model of the keys under Target ---------------------------------------

struct Data {
    DWORD type = REG_NONE;
    std::string bytes;
    bool operator==(const Data& o) const { return type == o.type && bytes == o.bytes; }
};
using Values = std::map<std::string, Data>;  // by value name
using Tree = std::map<std::string, Values>;  // by key path relative to Target ("" for Target)

std::string Dword(uint32_t v) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; i++) b[i] = (char)(v >> (8 * i));
    return b;
}

// Texts that need every kind of escape in the registry file.
std::string Stamp(int w) {
    return "version " + std::to_string(w) + " \"quoted\" back\\slash\ttab\nline \xC3\xA9\x7f";
}

// A large value whose every byte depends on the version, so that pieces of
// two versions never pass for one: mostly letters, which the file holds as
// they are, with a byte that needs an escape now and then.
std::string Bulk(int w) {
    std::string b(BulkSize, '\0');
    uint32_t x = 2463534242u ^ (uint32_t)w * 2654435761u;
    for (size_t i = 0; i < b.size(); i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = i % 61 == 0 ? (char)(x >> 24) : (char)('a' + x % 26);
    }
    b.replace(0, 4, Dword((uint32_t)w));
    return b;
}

enum Kind { SetValue, DeleteValue, CreateKey, DeleteKey };
const char* const KindNames[] = {"set value", "delete value", "create key", "delete key"};

struct Op {
    Kind kind;
    std::string key;  // relative to Target
    std::string name;
    Data data;
    int version;  // the version this change belongs to
};

void Apply(Tree& t, const Op& op) {
    switch (op.kind) {
        case SetValue: t[op.key][op.name] = op.data; break;
        case DeleteValue: t[op.key].erase(op.name); break;
        case CreateKey: t[op.key]; break;
        case DeleteKey: t.erase(op.key); break;
    }
}

Tree ApplyPrefix(Tree t, const std::vector<Op>& ops, size_t n) {
    for (size_t i = 0; i < n; i++) Apply(t, ops[i]);
    return t;
}

// The changes of one round: StepsPerRound versions after `version`, each
// touching every kind of call.
std::vector<Op> RoundOps(const Tree& start, int version, bool large) {
    Tree t = start;
    std::vector<Op> ops;
    auto add = [&](Kind kind, const std::string& key, const std::string& name, DWORD type,
                   const std::string& bytes, int w) {
        Op op{kind, key, name, Data{type, bytes}, w};
        Apply(t, op);
        ops.push_back(op);
    };
    for (int w = version + 1; w <= version + StepsPerRound; w++) {
        add(SetValue, "", "Version", REG_DWORD, Dword((uint32_t)w), w);
        add(SetValue, "", "Stamp", REG_SZ, Stamp(w), w);
        if (large) add(SetValue, "", "Bulk", REG_BINARY, Bulk(w), w);
        std::string gen = "Gen" + std::to_string(w);
        add(CreateKey, gen, "", REG_NONE, "", w);
        add(SetValue, gen, "Born", REG_SZ, "born in " + std::to_string(w), w);
        std::vector<std::string> older;
        for (const auto& k : t)
            if (!k.first.empty() && k.first != gen) older.push_back(k.first);
        for (const auto& k : older) add(DeleteKey, k, "", REG_NONE, "", w);
        if (w % 2)
            add(SetValue, "", "Odd", REG_MULTI_SZ, std::string("odd\0", 4) + std::to_string(w) + '\0' + '\0', w);
        else if (t[""].count("Odd"))
            add(DeleteValue, "", "Odd", REG_NONE, "", w);
    }
    return ops;
}

std::string FullPath(const std::string& rel) {
    return std::string(Target) + (rel.empty() ? "" : "\\" + rel);
}

// One change through the Win32 calls.
LONG Perform(const Op& op) {
    std::string path = FullPath(op.key);
    HKEY k = NULL;
    LONG rc;
    switch (op.kind) {
        case SetValue:
        case DeleteValue:
            rc = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &k);
            if (rc != ERROR_SUCCESS) return rc;
            if (op.kind == SetValue)
                rc = RegSetValueExA(k, op.name.c_str(), 0, op.data.type, (const BYTE*)op.data.bytes.data(),
                                    (DWORD)op.data.bytes.size());
            else
                rc = RegDeleteValueA(k, op.name.c_str());
            RegCloseKey(k);
            return rc;
        case CreateKey: {
            DWORD disposition = 0;
            rc = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k,
                                 &disposition);
            if (rc != ERROR_SUCCESS) return rc;
            RegCloseKey(k);
            return disposition == REG_CREATED_NEW_KEY ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
        }
        case DeleteKey: return RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    }
    return ERROR_INVALID_PARAMETER;
}

// --- The writer child --------------------------------------------------------

enum Event { Began, Ended, Failed, Limited };
struct Report {
    int32_t op;
    int32_t event;
    int32_t value;  // the error of a failed call, the limit set before a call
};

void Send(int fd, int op, Event e, long value) {
    Report r{op, e, (int32_t)value};
    // A report is smaller than PIPE_BUF, so it arrives whole or not at all.
    if (write(fd, &r, sizeof r) != (ssize_t)sizeof r) _exit(4);
}

// What the writer is told besides its changes: before call `limitOp` (none
// when negative), limit the files it writes to `limitShare` of the size of
// the registry file as it then is.
struct Plan {
    int limitOp = -1;
    double limitShare = 0;
};

[[noreturn]] void RunWriter(const std::vector<Op>& ops, const Plan& plan, int fd) {
    // Going over the limit must kill, whatever the parent does with the
    // signal, and without leaving a core file behind.
    signal(SIGXFSZ, SIG_DFL);
    sigset_t xfsz;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    sigprocmask(SIG_UNBLOCK, &xfsz, nullptr);
    prctl(PR_SET_DUMPABLE, 0);
    for (size_t i = 0; i < ops.size(); i++) {
        if ((int)i == plan.limitOp) {
            struct stat st;
            if (stat(MachinePath("registry.txt").c_str(), &st) != 0) _exit(5);
            rlim_t limit = (rlim_t)(st.st_size * plan.limitShare);
            rlimit r{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(6);
            Send(fd, (int)i, Limited, (long)limit);
        }
        Send(fd, (int)i, Began, 0);
        LONG rc = Perform(ops[i]);
        if (rc != ERROR_SUCCESS) {
            Send(fd, (int)i, Failed, rc);
            _exit(3);
        }
        Send(fd, (int)i, Ended, 0);
    }
    _exit(0);
}

// The writer of a round, killed and reaped however the round ends.
struct Writer {
    pid_t pid;
    int reports;
    int status = 0;
    bool reaped = false;
    int Kill() {
        if (!reaped) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            reaped = true;
        }
        return status;
    }
    // Waits up to `seconds` for the writer to end by itself.
    bool Wait(double seconds);
    ~Writer() {
        Kill();
        close(reports);
    }
};

// --- Reading back -------------------------------------------------------------

// Reads the key `path` below `root` and everything under it into `tree`, by
// path relative to it, through the enumeration calls (each a fresh read of
// the registry).
::testing::AssertionResult ReadTree(HKEY root, const std::string& path, const std::string& rel,
                                    Tree& tree) {
    std::string full = path + (rel.empty() ? "" : "\\" + rel);
    HKEY k = NULL;
    LONG rc = RegOpenKeyExA(root, full.c_str(), 0, KEY_READ, &k);
    if (rc != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << "cannot open " << full << ": " << rc;
    Values& values = tree[rel];
    std::vector<std::string> children;
    std::string data(BulkSize * 2, '\x5a');
    for (DWORD i = 0;; i++) {
        char name[512];
        DWORD nameCount = sizeof name, type = 0, count = (DWORD)data.size();
        rc = RegEnumValueA(k, i, name, &nameCount, NULL, &type, (LPBYTE)&data[0], &count);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(k);
            return ::testing::AssertionFailure() << "value " << i << " of " << full << ": " << rc;
        }
        values[name] = Data{type, data.substr(0, count)};
    }
    for (DWORD i = 0;; i++) {
        char name[512];
        DWORD nameCount = sizeof name;
        rc = RegEnumKeyExA(k, i, name, &nameCount, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            RegCloseKey(k);
            return ::testing::AssertionFailure() << "subkey " << i << " of " << full << ": " << rc;
        }
        children.push_back(name);
    }
    RegCloseKey(k);
    for (const auto& c : children) {
        auto r = ReadTree(root, path, rel.empty() ? c : rel + "\\" + c, tree);
        if (!r) return r;
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ReadTarget(Tree& tree) {
    return ReadTree(HKEY_CURRENT_USER, Target, "", tree);
}

// One line per value (and per key), for telling two trees apart.
std::set<std::string> Lines(const Tree& t) {
    std::set<std::string> lines;
    for (const auto& k : t) {
        lines.insert("[" + k.first + "]");
        for (const auto& v : k.second) {
            uint32_t h = 2166136261u;
            for (unsigned char c : v.second.bytes) h = (h ^ c) * 16777619u;
            std::ostringstream s;
            s << "[" << k.first << "] \"" << v.first << "\" type " << v.second.type << ", "
              << v.second.bytes.size() << " bytes, hash " << std::hex << h;
            if (v.second.bytes.size() >= 4) {
                s << ", starts " << std::dec
                  << ((unsigned char)v.second.bytes[0] | (unsigned char)v.second.bytes[1] << 8 |
                      (unsigned char)v.second.bytes[2] << 16 | (unsigned)(unsigned char)v.second.bytes[3] << 24);
            }
            lines.insert(s.str());
        }
    }
    return lines;
}

std::string Difference(const Tree& expected, const Tree& actual) {
    std::set<std::string> e = Lines(expected), a = Lines(actual);
    std::string out;
    for (const auto& l : e)
        if (!a.count(l)) out += "\n  missing: " + l;
    for (const auto& l : a)
        if (!e.count(l)) out += "\n  unexpected: " + l;
    return out;
}

// The keys written before the rounds, which no round touches: one before the
// target in the file, one after it, one under the other root.
struct FixedKey {
    HKEY root;
    std::string path;
    Tree tree;
};

std::vector<FixedKey> FixedKeys() {
    std::string all;
    for (int c = 0; c < 256; c++) all.push_back((char)c);
    return {
        {HKEY_CURRENT_USER, "Software\\ZtFaults\\Aardvark",
         {{"", {{"", {REG_SZ, "say \"hi\" \\ there\\"}},
                {"Count", {REG_DWORD, Dword(0xDEADBEEFu)}}}}}},
        {HKEY_CURRENT_USER, "Software\\ZtFaults\\Zebra",
         {{"", {{"AllBytes", {REG_BINARY, all}},
                {"Multi", {REG_MULTI_SZ, std::string("one\0two\0\0", 9)}}}},
          {"Nothing", {}}}},
        {HKEY_LOCAL_MACHINE, "Software\\ZtFaults\\Machine",
         {{"", {{"Wide", {REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)}}}}}},
    };
}

void WriteFixedKeys() {
    for (const FixedKey& f : FixedKeys())
        for (const auto& k : f.tree) {
            std::string path = f.path + (k.first.empty() ? "" : "\\" + k.first);
            HKEY h;
            ASSERT_EQ(RegCreateKeyExA(f.root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL),
                      ERROR_SUCCESS);
            RegCloseKey(h);
            for (const auto& v : k.second) WriteValue(f.root, path, v.first, v.second.type, v.second.bytes);
        }
}

::testing::AssertionResult FixedIntact() {
    for (const FixedKey& f : FixedKeys()) {
        Tree actual;
        auto r = ReadTree(f.root, f.path, "", actual);
        if (!r) return r;
        if (!(actual == f.tree))
            return ::testing::AssertionFailure() << f.path << " changed" << Difference(f.tree, actual);
    }
    return ::testing::AssertionSuccess();
}

// The registry file itself: complete, and every line one the stand-in can
// read. Its reader skips lines it cannot parse, so a damaged line would
// otherwise show only when it held something a check looks at.
::testing::AssertionResult FileWellFormed() {
    std::ifstream f(MachinePath("registry.txt"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (text.empty()) return ::testing::AssertionFailure() << "registry.txt is missing or empty";
    if (text.back() != '\n') return ::testing::AssertionFailure() << "registry.txt ends inside a line";
    std::istringstream lines(text);
    std::string line;
    for (int n = 1; std::getline(lines, line); n++) {
        if (line.empty() || line[0] == ';') continue;
        bool section = line[0] == '[' && line.back() == ']';
        bool value = (line[0] == '"' || line[0] == '@') && line.size() >= 5 &&
                     line.find("=") != std::string::npos && line.back() == '"';
        if (!section && !value)
            return ::testing::AssertionFailure() << "registry.txt line " << n << " is damaged: "
                                                 << line.substr(0, 80);
    }
    return ::testing::AssertionSuccess();
}

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

void SleepFor(double seconds) {
    timespec t{(time_t)seconds, (long)((seconds - (time_t)seconds) * 1e9)};
    while (nanosleep(&t, &t) != 0) {
    }
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The name the stand-in writes a new registry file under before renaming it.
std::string TempFileOf(pid_t pid) {
    return MachinePath("registry.txt") + ".tmp." + std::to_string((long)pid);
}

// The names in the machine directory.
std::set<std::string> MachineFiles() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(MachineDir())) names.insert(e.path().filename().string());
    return names;
}

unsigned long long EnvNumber(const char* name, unsigned long long fallback) {
    const char* v = getenv(name);
    return v && *v ? strtoull(v, nullptr, 10) : fallback;
}

bool Writer::Wait(double seconds) {
    double deadline = Now() + seconds;
    while (!reaped && Now() < deadline) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            reaped = true;
        else
            SleepFor(0.0002);
    }
    return reaped;
}

class RegistryFaults : public Sandboxed {};

TEST_F(RegistryFaults, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewState) {
    const unsigned long long seed = EnvNumber("ZARNO_FAULT_SEED", std::random_device{}());
    const int rounds = (int)std::max(200ULL, EnvNumber("ZARNO_FAULT_ROUNDS", 200));
    printf("registry fault seed %llu (ZARNO_FAULT_SEED=%llu repeats it), %d rounds\n", seed, seed, rounds);
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);

    WriteFixedKeys();
    if (HasFatalFailure()) return;
    WriteValue(HKEY_CURRENT_USER, Target, "Version", REG_DWORD, Dword(0));
    WriteValue(HKEY_CURRENT_USER, Target, "Stamp", REG_SZ, Stamp(0));
    Tree model = {{"", {{"Version", {REG_DWORD, Dword(0)}}, {"Stamp", {REG_SZ, Stamp(0)}}}}};
    Tree first;
    ASSERT_TRUE(ReadTarget(first));
    ASSERT_TRUE(first == model) << Difference(model, first);
    ASSERT_TRUE(FixedIntact());

    int version = 0;
    int inCall = 0, tempLeft = 0, passedOn = 0, finished = 0, untouched = 0, limited = 0;
    double started = Now();
    for (int round = 0; round < rounds; round++) {
        const bool large = rng() % 4 == 0;
        std::vector<Op> ops = RoundOps(model, version, large);
        // Deaths land within about the first step, which holds every kind of
        // call, so that few writers finish: either the file size limit
        // before one of those calls, or a kill at a random point of one, as
        // long after it began as the call before took, times `share`.
        const int reach = (int)(ops.size() / StepsPerRound);
        Plan plan;
        if (rng() % 3 == 0) {
            plan.limitOp = (int)(rng() % reach);
            plan.limitShare = std::uniform_real_distribution<double>(0, 0.98)(rng);
        }
        const int killAt = 1 + (int)(rng() % reach);
        const double share = std::uniform_real_distribution<double>(0, 1.2)(rng);
        const bool passOn = rng() % 2 == 0;
        std::ostringstream what;
        what << "round " << round << (large ? ", large" : "") << ", ";
        if (plan.limitOp >= 0)
            what << "file size limit " << plan.limitShare << " before call " << plan.limitOp;
        else
            what << "kill at " << share << " into call " << killAt;
        SCOPED_TRACE(what.str());

        const std::set<std::string> present = MachineFiles();
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        fflush(stdout);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipeFds[0]);
            RunWriter(ops, plan, pipeFds[1]);
        }
        close(pipeFds[1]);
        Writer writer{pid, pipeFds[0]};
        std::vector<Report> reports;
        Report r;
        if (plan.limitOp >= 0) {
            writer.Wait(10);
        } else {
            // Follows the writer's reports up to the start of call killAt,
            // timing its calls as it goes (a writer is slower than this
            // process, its pages being copied as it touches them).
            double began = 0, before = 0;
            for (;;) {
                pollfd p{pipeFds[0], POLLIN, 0};
                ASSERT_EQ(poll(&p, 1, 10000), 1) << "the writer stalled";
                if (read(pipeFds[0], &r, sizeof r) != (ssize_t)sizeof r) break;
                reports.push_back(r);
                if (r.event != Began) continue;
                before = began;
                began = Now();
                if (r.op == killAt) {
                    SleepFor(share * (began - before));
                    break;
                }
            }
        }
        int status = writer.Kill();
        while (read(pipeFds[0], &r, sizeof r) == (ssize_t)sizeof r) reports.push_back(r);

        // What the writer got done: calls that returned, and the one it was in.
        size_t ended = 0;
        bool inFlight = false;
        long limit = -1;
        for (const Report& rep : reports) {
            ASSERT_NE(rep.event, Failed) << KindNames[ops[rep.op].kind] << " " << ops[rep.op].key << " \""
                                         << ops[rep.op].name << "\" failed: " << rep.value;
            if (rep.event == Limited) limit = rep.value;
            if (rep.event == Ended) {
                ASSERT_EQ((size_t)rep.op, ended);
                ended++;
            }
            if (rep.event != Limited) inFlight = rep.event == Began;
        }
        const bool overLimit = WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            ASSERT_EQ(ended, ops.size());
            finished++;
        } else {
            ASSERT_TRUE(overLimit || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) << status;
        }
        // What the dead writer left behind: its temporary file, if anything.
        std::vector<std::string> left;
        for (const auto& name : MachineFiles())
            if (!present.count(name)) left.push_back(name);
        ASSERT_LE(left.size(), 1u) << left[0] << " and " << left[1];
        const bool leftTemp = !left.empty();
        const std::string temp = leftTemp ? MachinePath(left[0]) : "";
        inCall += inFlight;
        tempLeft += leftTemp;

        // The registry from scratch: the state after every call that returned,
        // and perhaps the one in flight, unless the writer died before its
        // rename (its temporary file is still there).
        ASSERT_TRUE(FileWellFormed());
        Tree actual;
        ASSERT_TRUE(ReadTarget(actual));
        Tree before = ApplyPrefix(model, ops, ended);
        size_t done = ended;
        if (!(actual == before)) {
            ASSERT_TRUE(inFlight && !leftTemp)
                << "not the state after the " << ended << " calls that returned"
                << (leftTemp ? " (the call in flight had not renamed its file)" : "")
                << Difference(before, actual);
            Tree after = before;
            Apply(after, ops[ended]);
            ASSERT_TRUE(actual == after)
                << "neither the state before nor after " << KindNames[ops[ended].kind] << " "
                << ops[ended].key << " \"" << ops[ended].name
                << "\"; against before:" << Difference(before, actual);
            done++;
        }
        ASSERT_TRUE(FixedIntact());
        if (overLimit) {
            // The writer died in the middle of writing its new file, with
            // exactly as much of it on disk as the limit let through.
            ASSERT_TRUE(inFlight && limit >= 0);
            ASSERT_TRUE(leftTemp) << "no temporary file after a death at the file size limit";
            EXPECT_EQ((long)fs::file_size(temp), limit);
            limited++;
        }
        untouched += done == 0;
        model = actual;
        if (done > 0) version = ops[done - 1].version;

        // The dead writer holds no lock.
        int lock = open(MachinePath("registry.lock").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(lock, 0);
        EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0) << "the registry is still locked";
        close(lock);

        // The next writer, in this process, then the next round's. When the
        // dead one left its temporary file, either leave it where it is, or
        // pass it on under this process's name, as a new writer given the
        // same process number would find it, and longer than anything written
        // here, with a key in its tail: writing over it must replace all of it.
        std::string mine = TempFileOf(getpid());
        if (leftTemp && passOn) {
            passedOn++;
            ASSERT_EQ(rename(temp.c_str(), mine.c_str()), 0);
            std::ofstream tail(mine, std::ios::binary | std::ios::app);
            tail << std::string(fs::file_size(MachinePath("registry.txt")) + 4096, '\n')
                 << "[HKEY_CURRENT_USER\\" << Target << "\\Ghost]\n\"Boo\"=4:\"\\x01\\x00\\x00\\x00\"\n";
        }
        {
            HKEY k;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Target, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
            std::string checked = Dword((uint32_t)round);
            ASSERT_EQ(RegSetValueExA(k, "Checked", 0, REG_DWORD, (const BYTE*)checked.data(), 4),
                      ERROR_SUCCESS)
                << "the next writer is refused" << (leftTemp ? " after a dead writer's temporary file" : "");
            model[""]["Checked"] = Data{REG_DWORD, checked};
            // The large value stays only for a round that writes it again.
            if (model[""].count("Bulk")) {
                ASSERT_EQ(RegDeleteValueA(k, "Bulk"), ERROR_SUCCESS);
                model[""].erase("Bulk");
            }
            RegCloseKey(k);
        }
        // What it wrote is read back with the next round's state.
        ASSERT_FALSE(FileExists(mine)) << "the next writer did not write over " << mine;
    }
    double took = Now() - started;

    Tree last;
    ASSERT_TRUE(ReadTarget(last));
    EXPECT_TRUE(last == model) << Difference(model, last);
    EXPECT_TRUE(FixedIntact());
    EXPECT_TRUE(FileWellFormed());
    printf("%d rounds in %.1f s: %d writers died inside a call, %d of them before renaming their new file "
           "(%d at the file size limit; %d of the files passed on to the next writer), %d before any call "
           "returned, %d finished; version %d reached\n",
           rounds, took, inCall, tempLeft, limited, passedOn, untouched, finished, version);
    // The deaths must have landed where a fault would show: inside calls,
    // and between the write of a new file and its rename.
    EXPECT_GE(inCall, rounds / 2);
    EXPECT_GE(tempLeft, rounds / 8);
}

// A store file that exists but cannot be read is never replaced by the
// little that could be read of it: writes fail, and the file stays as it was.
TEST_F(RegistryFaults, AStoreThatCannotBeReadIsNeverOverwritten) {
    WriteFixedKeys();
    if (HasFatalFailure()) return;
    std::string file = MachinePath("registry.txt");
    std::string saved = file + ".saved";
    ASSERT_EQ(rename(file.c_str(), saved.c_str()), 0);
    ASSERT_EQ(symlink("registry.txt", file.c_str()), 0);  // a loop: opening fails
    HKEY k = NULL;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Target, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL),
              ERROR_ACCESS_DENIED);
    struct stat st;
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the unreadable store was replaced";
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(rename(saved.c_str(), file.c_str()), 0);
    EXPECT_TRUE(FixedIntact());
}

}  // namespace
