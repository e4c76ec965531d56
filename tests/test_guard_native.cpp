// Native build only: the stand-in machine for the guard's tests, a sandbox
// in the temporary directory holding every special folder, and the refusals
// of RemoveTreeGuarded, which are safe to try only on such a sandbox.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "machine.h"
#include "zarnouns.h"

namespace {

namespace fs = std::filesystem;

const int AllFolders[] = {
    CSIDL_APPDATA,        CSIDL_COMMON_APPDATA,   CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_STARTUP, CSIDL_DESKTOP,          CSIDL_DESKTOPDIRECTORY,
    CSIDL_FAVORITES,      CSIDL_FONTS,            CSIDL_HISTORY,
    CSIDL_LOCAL_APPDATA,  CSIDL_MYPICTURES,       CSIDL_PROFILE,
    CSIDL_PROGRAM_FILES,  CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAMS,
    CSIDL_STARTMENU,      CSIDL_STARTUP,          CSIDL_SYSTEM,
    CSIDL_WINDOWS,        CSIDL_PERSONAL,
};

// The known folders without a CSIDL number that the stand-in's shell has.
const char* const KnownFolders[] = {"Users/user/Downloads", "Users/user/Saved Games",
                                    "Users/user/Links", "Users/Public"};

fs::path Sandbox;

class GuardMachine : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zarno-guard-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        Sandbox = pattern;
        ASSERT_EQ(0, setenv("ZARNOUNS_MACHINE", Sandbox.c_str(), 1));
        for (int csidl : AllFolders) {
            std::string folder = StandInFolderPath(csidl);
            ASSERT_FALSE(folder.empty());
            fs::create_directories(folder);
        }
        for (const char* rel : KnownFolders) fs::create_directories(MachinePath(std::string("c/") + rel));
    }
    void TearDown() override {
        if (!Sandbox.empty()) fs::remove_all(Sandbox);
    }
};

::testing::Environment* const Machine = ::testing::AddGlobalTestEnvironment(new GuardMachine);

std::string FolderOf(int csidl) {
    char buffer[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathA(NULL, buffer, csidl, FALSE)) return std::string();
    return buffer;
}

TEST(GuardMachine, ShellReportsTheSandboxFolders) {
    for (int csidl : AllFolders) {
        std::string folder = FolderOf(csidl);
        EXPECT_FALSE(folder.empty()) << "csidl " << csidl;
        EXPECT_EQ(0u, folder.find(Sandbox.string())) << folder;
    }
}

TEST(GuardMachine, SandboxItselfHoldsTheFolders) {
    EXPECT_EQ(1, IsProtectedFolder(Sandbox.c_str()));
    EXPECT_EQ(1, IsProtectedFolder((Sandbox.string() + PATH_SEP).c_str()));
}

// A folder within the shell's MAX_PATH characters can take more bytes in
// UTF-8: the guard knows it all the same.
TEST(GuardMachine, FoldersLongerInUtf8ThanMaxPathBytes) {
    std::string greek;
    for (int i = 0; i < 120; i++) greek += "Ω";
    fs::path machine = Sandbox / greek;
    ASSERT_EQ(0, setenv("ZARNOUNS_MACHINE", machine.c_str(), 1));
    ForgetProtectedFolders();
    for (int csidl : {CSIDL_WINDOWS, CSIDL_APPDATA}) fs::create_directories(StandInFolderPath(csidl));
    for (int csidl : {CSIDL_WINDOWS, CSIDL_APPDATA}) {
        std::string folder = StandInFolderPath(csidl);
        EXPECT_GE(folder.size(), (size_t)MAX_PATH) << folder;
        EXPECT_EQ(1, IsProtectedFolder(folder.c_str())) << folder;
        // In small letters it names no folder here, but would on Windows.
        std::string small = folder;
        for (size_t at; (at = small.find("Ω")) != std::string::npos;) small.replace(at, 2, "ω");
        EXPECT_EQ(1, IsProtectedFolder(small.c_str())) << small;
    }
    setenv("ZARNOUNS_MACHINE", Sandbox.c_str(), 1);
    ForgetProtectedFolders();
    fs::remove_all(machine);
}

TEST(RemoveTreeGuarded, LeavesProtectedFoldersAlone) {
    TestMode = 0;
    for (int csidl : {CSIDL_APPDATA, CSIDL_WINDOWS, CSIDL_PROGRAM_FILES}) {
        fs::path folder = FolderOf(csidl);
        ASSERT_FALSE(folder.empty());
        fs::path marker = folder / "keep.txt";
        std::ofstream(marker) << "x";
        std::string dir = folder.string() + PATH_SEP;
        EXPECT_EQ(-1, RemoveTreeGuarded(dir.c_str())) << dir;
        EXPECT_TRUE(fs::exists(marker)) << marker;
        std::string parent = folder.parent_path().string() + PATH_SEP;
        EXPECT_EQ(-1, RemoveTreeGuarded(parent.c_str())) << parent;
        EXPECT_TRUE(fs::exists(marker)) << marker;
        fs::remove(marker);
    }
}

TEST(RemoveTreeGuarded, RemovesAnApplicationDirectoryInTheMachine) {
    TestMode = 0;
    fs::path app = fs::path(FolderOf(CSIDL_PROGRAM_FILES)) / "ZarnoGuardApp";
    fs::create_directories(app);
    std::ofstream(app / "harbo.dll") << "x";
    std::string dir = app.string() + PATH_SEP;
    EXPECT_EQ(0, RemoveTreeGuarded(dir.c_str()));
    EXPECT_FALSE(fs::exists(app));
    EXPECT_TRUE(fs::exists(FolderOf(CSIDL_PROGRAM_FILES)));
}

// A location that is a link, or that passes through one, is not walked:
// its name says nothing of the folder it leads to.
TEST(RemoveTreeGuarded, LeavesALocationThroughALinkAlone) {
    TestMode = 0;
    fs::path windows = FolderOf(CSIDL_WINDOWS);
    fs::path marker = windows / "keep.txt";
    std::ofstream(marker) << "x";
    fs::path programs = FolderOf(CSIDL_PROGRAM_FILES);
    fs::path link = programs / "ZarnoLinkApp";
    fs::create_directory_symlink(windows, link);
    // By its identity the link is the Windows folder itself.
    EXPECT_EQ(1, IsProtectedFolder(link.c_str()));
    fs::create_directories(windows / "Sub");
    std::ofstream(windows / "Sub" / "keep.txt") << "y";
    for (std::string dir : {link.string() + PATH_SEP, link.string(),
                            (link / "Sub").string() + PATH_SEP}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(-1, RemoveTreeGuarded(dir.c_str())) << dir;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "refusing to remove protected folder: " + dir + "\n");
        EXPECT_TRUE(fs::exists(marker));
        EXPECT_TRUE(fs::exists(windows / "Sub" / "keep.txt"));
        EXPECT_TRUE(fs::is_symlink(link));
    }
    fs::remove(link);
    fs::remove_all(windows / "Sub");
    fs::remove(marker);
}

// "link/.." names the folder holding the link, as on Windows, not the
// parent of the link's target.
TEST(RemoveTreeGuarded, DotDotAfterALinkIsTakenByName) {
    TestMode = 0;
    fs::path programs = FolderOf(CSIDL_PROGRAM_FILES);
    fs::path app = programs / "ZarnoDotApp", other = programs / "ZarnoDotOther" / "Deep";
    fs::create_directories(app);
    fs::create_directories(other);
    std::ofstream(app / "harbo.dll") << "x";
    std::ofstream(other / "keep.txt") << "y";
    fs::create_directory_symlink(other, app / "link");
    std::string dir = (app / "link" / "..").string() + PATH_SEP;
    EXPECT_EQ(0, RemoveTreeGuarded(dir.c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(app)));
    EXPECT_TRUE(fs::exists(other / "keep.txt"));
    fs::remove_all(programs / "ZarnoDotOther");
}

}  // namespace
