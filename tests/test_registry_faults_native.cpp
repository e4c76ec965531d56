// Native build only: the stand-in's registry when a writer dies at a random
// moment. A child process writes through the registry API step after step
// (values set, keys created and deleted, some steps with a large value so a
// write takes a while) and reports each finished step on a pipe; the parent
// kills it with SIGKILL after a random delay and then reads the whole store
// back through the API. The store must hold exactly the state after the last
// reported step or after the one step more that may have landed unreported,
// every value written before the loop must be unchanged, and the next writer
// must get on with its work despite what the dead one left behind.
//
// The writer's disk is made slow on purpose (see SlowDisk below), so that a
// write is a long stretch of the step and many kills land inside one.
//
// The delays come from a seeded generator; the seed is printed, and
// ZARNO_FAULT_SEED=N repeats a run's choices (timing still varies).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "machine.h"

using namespace zt;

namespace {

const int Rounds = 200;
const size_t SmallSize = 48;
const size_t BigSize = 4 * 1024;
const char* const WrittenKey = "Software\\Zt\\Faults";

// The writer process's disk: while set, write() to a regular file takes at
// most SlowChunk bytes a call and pauses after each (a short write, which
// POSIX allows), and fsync() pauses instead of syncing. A process killed
// with SIGKILL loses nothing that reached the page cache, so the real sync
// adds nothing to what these tests check; the pauses stand for a slow disk
// and make the stretch of a step spent writing long and steady. Both names
// replace the C library's for the whole test program (a definition in the
// executable comes first); unset, they pass straight to the kernel.
bool SlowDisk = false;
int SlowSyncs = 0;  // fsync calls that came here while slow
const size_t SlowChunk = 2048;
const long SlowWriteNs = 50 * 1000, SlowSyncNs = 500 * 1000;

// Switches the slow disk on for a scope (off again on an early return).
struct SlowDiskOn {
    SlowDiskOn() { SlowDisk = true; }
    ~SlowDiskOn() { SlowDisk = false; }
};

void Pause(long ns) {
    timespec t{0, ns};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buf, size_t count) {
    struct stat st;
    if (SlowDisk && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        ssize_t n = syscall(SYS_write, fd, buf, std::min(count, SlowChunk));
        Pause(SlowWriteNs);
        return n;
    }
    return syscall(SYS_write, fd, buf, count);
}

extern "C" int fsync(int fd) {
    if (SlowDisk) {
        SlowSyncs++;
        Pause(SlowSyncNs);
        return 0;
    }
    return (int)syscall(SYS_fsync, fd);
}

namespace {

struct Data {
    DWORD type = REG_NONE;
    std::string bytes;
    bool operator==(const Data& o) const { return type == o.type && bytes == o.bytes; }
};

// What the parent expects of a key: its values by name and its subkeys.
struct KeyState {
    std::map<std::string, Data> values;
    std::set<std::string> subkeys;
    bool operator==(const KeyState& o) const { return values == o.values && subkeys == o.subkeys; }
};

std::string Dword(uint32_t n) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; i++) b[i] = (char)((n >> (8 * i)) & 0xFF);
    return b;
}

// Data that differs from step to step in every byte, and holds every byte
// value the file has to escape (NUL, CR, LF, quote, backslash, 0x7f and up).
std::string Pattern(uint32_t step, size_t size) {
    std::string b = "step " + std::to_string(step) + ":";
    size_t head = b.size();
    b.resize(std::max(size, head));
    for (size_t i = head; i < b.size(); i++) b[i] = (char)((i * 131 + step * 7 + (i >> 8)) & 0xFF);
    return b;
}

std::string SubName(uint32_t step) { return "Sub" + std::to_string(step); }

// The write of one step, in a cycle of six that touches every kind of
// change: step s sets "Version", sets "Big", creates Sub<s>, sets "Counter",
// deletes Sub<s-2> and deletes "Counter" again. Each step changes the store,
// and each is valid right after the step before it.
enum Kind { SetVersion, SetBig, CreateSub, SetCounter, DeleteSub, DeleteCounter };

Kind KindOf(uint32_t step) { return (Kind)((step + 5) % 6); }  // step 1 sets "Version"

void Apply(KeyState& k, uint32_t step, bool big) {
    switch (KindOf(step)) {
        case SetVersion: k.values["Version"] = {REG_SZ, "version " + std::to_string(step)}; break;
        case SetBig: k.values["Big"] = {REG_BINARY, Pattern(step, big ? BigSize : SmallSize)}; break;
        case CreateSub: k.subkeys.insert(SubName(step)); break;
        case SetCounter: k.values["Counter"] = {REG_DWORD, Dword(step)}; break;
        case DeleteSub: k.subkeys.erase(SubName(step - 2)); break;
        case DeleteCounter: k.values.erase("Counter"); break;
    }
}

LONG Write(HKEY k, const char* name, const Data& d) {
    return RegSetValueExA(k, name, 0, d.type, (const BYTE*)d.bytes.data(), (DWORD)d.bytes.size());
}

// The same step through the registry API.
LONG Perform(HKEY k, uint32_t step, bool big) {
    switch (KindOf(step)) {
        case SetVersion: return Write(k, "Version", {REG_SZ, "version " + std::to_string(step)});
        case SetBig: return Write(k, "Big", {REG_BINARY, Pattern(step, big ? BigSize : SmallSize)});
        case CreateSub: {
            HKEY sub = NULL;
            DWORD disposition = 0;
            LONG rc = RegCreateKeyExA(k, SubName(step).c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub,
                                      &disposition);
            if (rc != ERROR_SUCCESS) return rc;
            RegCloseKey(sub);
            return disposition == REG_CREATED_NEW_KEY ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
        }
        case SetCounter: return Write(k, "Counter", {REG_DWORD, Dword(step)});
        case DeleteSub: return RegDeleteKeyA(k, SubName(step - 2).c_str());
        case DeleteCounter: return RegDeleteValueA(k, "Counter");
    }
    return ERROR_INVALID_PARAMETER;
}

// One report from the writer: a step done, or the code a step failed with.
struct Report {
    uint32_t step;
    int32_t rc;
};

// The writer: performs steps from `first` on until it is killed.
[[noreturn]] void Writer(int out, pid_t parent, uint32_t first, bool big) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(3);
    SlowDisk = true;
    HKEY k = NULL;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, WrittenKey, 0, KEY_ALL_ACCESS, &k);
    if (rc != ERROR_SUCCESS) {
        Report r{first, (int32_t)rc};
        (void)!write(out, &r, sizeof r);
        _exit(2);
    }
    for (uint32_t step = first; step < first + 1000000; step++) {
        rc = Perform(k, step, big);
        Report r{step, (int32_t)rc};
        (void)!write(out, &r, sizeof r);
        if (rc != ERROR_SUCCESS) _exit(2);
    }
    _exit(0);
}

// A key read back through the API; false with the reason when a call fails.
bool ReadKey(HKEY root, const std::string& path, KeyState& out, std::string& error) {
    out = KeyState();
    HKEY k = NULL;
    LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k);
    if (rc != ERROR_SUCCESS) {
        error = "RegOpenKeyExA(" + path + ") = " + std::to_string(rc);
        return false;
    }
    static std::vector<char> name(16384), data(BigSize + 1024);
    for (DWORD i = 0;; i++) {
        DWORD nameCount = (DWORD)name.size(), type = 0, count = (DWORD)data.size();
        std::fill(data.begin(), data.end(), '\x5a');
        rc = RegEnumValueA(k, i, name.data(), &nameCount, NULL, &type, (LPBYTE)data.data(), &count);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            error = "RegEnumValueA(" + path + ", " + std::to_string(i) + ") = " + std::to_string(rc);
            RegCloseKey(k);
            return false;
        }
        std::string n(name.data(), nameCount);
        if (out.values.count(n)) {
            error = path + ": value \"" + n + "\" listed twice";
            RegCloseKey(k);
            return false;
        }
        out.values[n] = {type, std::string(data.data(), count)};
    }
    for (DWORD i = 0;; i++) {
        DWORD nameCount = (DWORD)name.size();
        rc = RegEnumKeyExA(k, i, name.data(), &nameCount, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) {
            error = "RegEnumKeyExA(" + path + ", " + std::to_string(i) + ") = " + std::to_string(rc);
            RegCloseKey(k);
            return false;
        }
        out.subkeys.insert(std::string(name.data(), nameCount));
    }
    RegCloseKey(k);
    return true;
}

// A key in one line: each value's type, size, a checksum of its bytes and
// their start, then the subkeys.
std::string Describe(const KeyState& k) {
    std::ostringstream s;
    for (const auto& v : k.values) {
        uint32_t sum = 2166136261u;
        for (unsigned char c : v.second.bytes) sum = (sum ^ c) * 16777619u;
        s << " \"" << v.first << "\"=" << v.second.type << ":" << v.second.bytes.size() << ":" << std::hex
          << sum << std::dec << ":";
        std::string head = v.second.bytes.substr(0, 16);
        for (char& c : head)
            if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) c = '.';
        s << head;
    }
    s << " keys:";
    for (const auto& n : k.subkeys) s << " " << n;
    return s.str();
}

// The keys written before the loop, which no step touches.
struct Fixed {
    HKEY root;
    std::string path;
    KeyState state;
};

std::vector<Fixed> FixedKeys() {
    std::string all;
    for (int c = 0; c < 256; c++) all.push_back((char)c);
    Fixed machine{HKEY_LOCAL_MACHINE, "Software\\Zt\\Kept", {}};
    machine.state.values = {
        {"", {REG_SZ, "default value"}},
        {"Binary", {REG_BINARY, all}},
        {"Number", {REG_DWORD, Dword(0x2a)}},
        {"Empty", {REG_SZ, ""}},
        {"a\"b\\c", {REG_EXPAND_SZ, "%TEMP%\\x\r\n"}},
    };
    Fixed user{HKEY_CURRENT_USER, "Software\\Zt\\Sibling", {}};
    user.state.values = {
        {"Line", {REG_SZ, std::string(300, 'q')}},
        {"Multi", {REG_MULTI_SZ, std::string("one\0two\0\0", 9)}},
    };
    return {machine, user};
}

// Directory entries of the machine other than the store and its lock.
std::set<std::string> Leftovers() {
    std::set<std::string> names;
    DIR* d = opendir(MachineDir().c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != "registry.txt" && n != "registry.lock") names.insert(n);
    }
    closedir(d);
    return names;
}

// True when nobody holds the store's lock (it is free to take at once).
bool LockIsFree() {
    int fd = open(MachinePath("registry.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return true;
    bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

// Waits up to `ms` for the next report; false when none came.
bool NextReport(int fd, int ms, Report& r) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    return read(fd, &r, sizeof r) == (ssize_t)sizeof r;
}

uint32_t SeedOf() {
    const char* env = getenv("ZARNO_FAULT_SEED");
    if (env && *env) return (uint32_t)strtoul(env, nullptr, 10);
    return std::random_device{}();
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class RegistryFaults : public Sandboxed {
  protected:
    void SetUp() override {
        Sandboxed::SetUp();
        fixed = FixedKeys();
        for (const auto& f : fixed)
            for (const auto& v : f.state.values)
                WriteValue(f.root, f.path, v.first, v.second.type, v.second.bytes);
        WriteValue(HKEY_CURRENT_USER, WrittenKey, "Stable", REG_SZ, "not touched by a step");
        written.values["Stable"] = {REG_SZ, "not touched by a step"};
        ExpectStore(written, "before the loop");
    }

    // The whole store as the parent expects it; false after a failure.
    bool ExpectStore(const KeyState& expected, const std::string& when) {
        KeyState seen;
        std::string error;
        if (!ReadKey(HKEY_CURRENT_USER, WrittenKey, seen, error)) {
            ADD_FAILURE() << when << ": the store cannot be read: " << error;
            return false;
        }
        bool same = seen == expected;
        if (!same)
            ADD_FAILURE() << when << ": " << WrittenKey << " holds\n  " << Describe(seen) << "\n  not\n  "
                          << Describe(expected);
        return ExpectFixedKeys(when) && same;
    }

    bool ExpectFixedKeys(const std::string& when) {
        bool same = true;
        for (const auto& f : fixed) {
            KeyState seen;
            std::string error;
            if (!ReadKey(f.root, f.path, seen, error)) {
                ADD_FAILURE() << when << ": " << error;
                return false;
            }
            if (!(seen == f.state)) {
                ADD_FAILURE() << when << ": " << f.path << " changed:\n  seen    " << Describe(seen)
                              << "\n  written " << Describe(f.state);
                same = false;
            }
        }
        return same;
    }

    std::vector<Fixed> fixed;
    KeyState written;  // the key the writers change, as last seen
};

TEST_F(RegistryFaults, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewStore) {
    const uint32_t seed = SeedOf();
    std::printf("registry faults: seed %u (ZARNO_FAULT_SEED=%u repeats it)\n", seed, seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    // How long a step of the writer takes with a large value in the store
    // (the fastest of a few, as other work on the machine only slows it), so
    // that the delays reach over about two steps after the first.
    double bigStep = 1;
    {
        SlowDiskOn slow;
        HKEY k = NULL;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, WrittenKey, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
        for (uint32_t i = 0; i < 5; i++) {
            auto t0 = std::chrono::steady_clock::now();
            ASSERT_EQ(Write(k, "Probe", {REG_BINARY, Pattern(i, BigSize)}), ERROR_SUCCESS);
            bigStep = std::min(bigStep, Seconds(t0));
        }
        ASSERT_EQ(RegDeleteValueA(k, "Probe"), ERROR_SUCCESS);
        RegCloseKey(k);
    }
    ASSERT_GT(SlowSyncs, 0) << "the stand-in's fsync does not come to this program's own; no slow disk";
    const int maxDelayUs = (int)(bigStep * 2e6);

    uint32_t done = 0;  // the last step the store is known to hold
    int killedInWrite = 0, killedAfterCommit = 0, killedElsewhere = 0;
    std::set<std::string> before = Leftovers();
    auto begun = std::chrono::steady_clock::now();
    for (int round = 0; round < Rounds; round++) {
        const bool big = round % 2 == 0;
        const int delayUs = std::uniform_int_distribution<int>(0, maxDelayUs)(random);
        const std::string where = "round " + std::to_string(round) + " (delay " +
                                  std::to_string(delayUs) + " us, " + (big ? "big" : "small") +
                                  " values, from step " + std::to_string(done + 1) + ")";
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        pid_t parent = getpid();
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipeFds[0]);
            Writer(pipeFds[1], parent, done + 1, big);
        }
        close(pipeFds[1]);

        // The first step must go through whatever the last writer left.
        Report first{};
        bool gotFirst = NextReport(pipeFds[0], 10000, first);
        if (gotFirst) std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);

        std::vector<Report> reports;
        if (gotFirst) reports.push_back(first);
        Report r;
        while (read(pipeFds[0], &r, sizeof r) == (ssize_t)sizeof r) reports.push_back(r);
        close(pipeFds[0]);
        ASSERT_TRUE(gotFirst) << where << ": the writer finished no step within 10 s";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << where << ": the writer ended by itself, status " << status << ", last report step "
            << reports.back().step << " rc " << reports.back().rc;
        for (size_t i = 0; i < reports.size(); i++) {
            ASSERT_EQ(reports[i].step, done + 1 + i) << where;
            ASSERT_EQ(reports[i].rc, ERROR_SUCCESS) << where << ": step " << reports[i].step;
        }
        const uint32_t reported = reports.back().step;

        ASSERT_TRUE(LockIsFree()) << where << ": the dead writer's lock is still held";
        std::set<std::string> after = Leftovers(), left;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                            std::inserter(left, left.begin()));
        ASSERT_LE(left.size(), 1u) << where << ": one writer left several files";
        before = after;

        KeyState old = written;
        for (uint32_t s = done + 1; s <= reported; s++) Apply(old, s, big);
        KeyState next = old;
        Apply(next, reported + 1, big);

        KeyState seen;
        std::string error;
        ASSERT_TRUE(ReadKey(HKEY_CURRENT_USER, WrittenKey, seen, error))
            << where << ": the store cannot be read: " << error;
        if (seen == old) {
            done = reported;
        } else if (seen == next) {
            done = reported + 1;
        } else {
            FAIL() << where << ": torn or mixed state after step " << reported << ":\n  seen " << Describe(seen)
                   << "\n  old  " << Describe(old) << "\n  new  " << Describe(next);
        }
        written = seen;
        ASSERT_TRUE(ExpectFixedKeys(where));

        if (!left.empty()) {
            // A partial file means the kill came before the rename, so the
            // step that was being written is not in the store.
            EXPECT_EQ(done, reported) << where << ": " << *left.begin()
                                      << " left behind, yet the store holds the step";
            killedInWrite++;
        } else if (done == reported + 1) {
            killedAfterCommit++;
        } else {
            killedElsewhere++;
        }
    }
    const double loop = Seconds(begun);
    std::printf("registry faults: %d rounds, %u steps in %.2f s (a big step %.1f ms, delays up to %d us):\n"
                "  %d kills inside a write (a partial file left), %d after the store was replaced"
                " but before the writer reported it,\n  %d before a write began (while reading the store or"
                " between steps)\n",
                Rounds, done, loop, bigStep * 1e3, maxDelayUs, killedInWrite, killedAfterCommit,
                killedElsewhere);
    EXPECT_GT(killedInWrite, 0) << "no kill landed inside a write; the delays do not reach one";

    // After all the dead writers, this process writes and reads back as usual.
    HKEY k = NULL;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, WrittenKey, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    ASSERT_EQ(Write(k, "After", {REG_SZ, "written last"}), ERROR_SUCCESS);
    RegCloseKey(k);
    written.values["After"] = {REG_SZ, "written last"};
    ExpectStore(written, "after the loop");
}

// A partial file that a writer killed inside a write leaves behind is not
// read as the store, and does not stop the next write or leak into it, also
// when the next writer has the dead one's process id.
TEST_F(RegistryFaults, FilesLeftByADeadWriterDoNotStopTheNext) {
    struct Case {
        const char* what;
        std::string file;   // in the machine directory
        std::string bytes;  // written there first
    } cases[] = {
        {"a partial file of another writer", "registry.txt.tmp.999999",
         "; The registry of the emulated machine.\n\n[HKEY_CURRENT_USER\\Software\\Zt\\Faults]\n"
         "\"Version\"=1:\"torn"},
        // Longer than the new store and ending in values of the written key,
        // so that a write that kept the old bytes past its own end shows.
        {"a partial file under this process's own id (its id reused)",
         "registry.txt.tmp." + std::to_string(getpid()),
         std::string(200000, 'x') + "\n[HKEY_CURRENT_USER\\Software\\Zt\\Faults]\n"
         "\"Version\"=1:\"stale\"\n\"Extra\"=1:\"stale\"\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(MachinePath(c.file), std::ios::binary) << c.bytes;
        EXPECT_TRUE(ExpectStore(written, "with the file in place"));

        Data d{REG_SZ, "case " + std::to_string(n++)};
        HKEY k = NULL;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, WrittenKey, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
        EXPECT_EQ(Write(k, "Version", d), ERROR_SUCCESS);
        RegCloseKey(k);
        written.values["Version"] = d;
        EXPECT_TRUE(ExpectStore(written, "after the next write"));
        EXPECT_TRUE(LockIsFree());
        // The next writer clears what dead writers left, and leaves nothing.
        EXPECT_EQ(Leftovers(), std::set<std::string>{});
    }
}

// A store file that exists but cannot be read is never replaced by what
// little could be read of it: writes fail, and the file stays as it was.
TEST_F(RegistryFaults, AStoreThatCannotBeReadIsNeverOverwritten) {
    std::string file = MachinePath("registry.txt");
    std::string saved = file + ".saved";
    ASSERT_EQ(rename(file.c_str(), saved.c_str()), 0);
    ASSERT_EQ(symlink("registry.txt", file.c_str()), 0);  // a loop: opening fails
    HKEY k = NULL;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Zt\\Other", 0, NULL, 0, KEY_ALL_ACCESS,
                              NULL, &k, &disposition),
              ERROR_ACCESS_DENIED);
    struct stat st;
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the unreadable store was replaced";
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(rename(saved.c_str(), file.c_str()), 0);
    EXPECT_TRUE(ExpectStore(written, "once readable again"));
}

}  // namespace
