// The guard in front of tree removal: roots, the Windows and system folders
// and the special folders as the running machine reports them are refused;
// an application's own directory is not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <tuple>

#include "harness.h"
#include "zarnouns.h"

namespace {

const char OtherSeparator = PATH_SEP == '/' ? '\\' : '/';

std::string FolderOf(int csidl) {
    char buffer[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathA(NULL, buffer, csidl, FALSE)) return std::string();
    return buffer;
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

std::string WithTrailingSeparator(const std::string& path) {
    return WithoutTrailingSeparator(path) + PATH_SEP;
}

// The folder's short (8.3) name where the file system has one.
std::string ShortForm(const std::string& path) {
    char buffer[MAX_PATH] = {0};
    DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? buffer : path;
}

std::string ParentOf(const std::string& path) {
    std::string p = WithoutTrailingSeparator(path);
    size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : p.substr(0, cut + 1);
}

std::string InCase(std::string text, bool upper) {
    for (char& c : text) {
        if (upper && c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    }
    return text;
}

std::string WithOtherSeparator(std::string text) {
    for (char& c : text)
        if (c == PATH_SEP) c = OtherSeparator;
    return text;
}

struct RootCase {
    const char* dir;
    int expected;
};

const RootCase RootCases[] = {
    {"", 1},
    {"/", 1},
    {"\\", 1},
    {"C:\\", 1},
    {"C:", 1},
    {"c:/", 1},
    {"\\\\server\\share\\", 1},
    {"\\\\server\\share", 1},
    {"//server/share/", 1},
    {"\\\\server\\", 1},
    {"\\\\server\\share\\app\\", 0},
    {"C:\\Tools\\", 0},
    {"C:\\Tools", 0},
    {"c:/tools/demo/", 0},
};

TEST(IsProtectedFolder, RootsAndEmptyAreProtected) {
    for (const RootCase& c : RootCases)
        EXPECT_EQ(c.expected, IsProtectedFolder(c.dir)) << "dir: '" << c.dir << "'";
}

const int MachineFolders[] = {CSIDL_WINDOWS, CSIDL_SYSTEM,  CSIDL_APPDATA, CSIDL_PROGRAM_FILES,
                              CSIDL_PROFILE, CSIDL_FONTS,   CSIDL_LOCAL_APPDATA};

TEST(IsProtectedFolder, MachineFoldersInEverySpelling) {
    for (int csidl : MachineFolders) {
        std::string folder = FolderOf(csidl);
        ASSERT_FALSE(folder.empty()) << "the machine reports no folder for csidl " << csidl;
        const std::string spellings[] = {
            folder,
            WithoutTrailingSeparator(folder),
            WithTrailingSeparator(folder),
            InCase(folder, true),
            InCase(folder, false),
            InCase(WithTrailingSeparator(folder), true),
            WithOtherSeparator(folder),
            WithOtherSeparator(WithTrailingSeparator(folder)),
            ParentOf(folder),
            WithoutTrailingSeparator(ParentOf(folder)),
            WithTrailingSeparator(folder) + "ZarnoGuardApp" + PATH_SEP + ".." + PATH_SEP,
            ShortForm(folder),
            WithTrailingSeparator(ShortForm(folder)),
        };
        for (const std::string& dir : spellings)
            EXPECT_EQ(1, IsProtectedFolder(dir.c_str())) << "csidl " << csidl << ": " << dir;
    }
}

TEST(IsProtectedFolder, EverySpecialFolderRowIsProtected) {
    int resolved = 0;
    for (const SpecialFolder* row = SpecialFolders; row->name != NULL; row++) {
        std::string folder = FolderOf(row->csidl);
        if (folder.empty()) continue;
        resolved++;
        EXPECT_EQ(1, IsProtectedFolder(folder.c_str())) << row->name << ": " << folder;
    }
    EXPECT_GE(resolved, 3);
}

// Folders that a 64-bit Windows and the profiles have, most of which no
// removal-script section names: none is an application's own.
TEST(IsProtectedFolder, FoldersOfA64BitWindowsAndOfTheProfiles) {
    const std::string S(1, PATH_SEP);
    std::string windows = WithTrailingSeparator(FolderOf(CSIDL_WINDOWS));
    std::string drive = ParentOf(windows);
    std::string profile = WithTrailingSeparator(FolderOf(CSIDL_PROFILE));
    std::string profiles = ParentOf(profile);
    char temp[MAX_PATH] = "";
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    ASSERT_FALSE(drive.empty());
    ASSERT_FALSE(profiles.empty());
    const std::string dirs[] = {
        drive + "Program Files" + S,
        drive + "Program Files" + S + "Common Files" + S,
        windows + "SysWOW64" + S,
        windows + "Sysnative" + S,
        windows + "System32" + S + "drivers" + S,
        profile + "Documents" + S,
        profile + "Downloads" + S,
        profile + "Saved Games" + S,
        profile + "Links" + S,
        temp,
        profiles,
        profiles + "Public" + S,
        profiles + "ZarnoOtherUser" + S,
    };
    for (const std::string& dir : dirs) EXPECT_EQ(1, IsProtectedFolder(dir.c_str())) << dir;
}

// Folders where applications are installed.
const int ApplicationHomes[] = {CSIDL_APPDATA, CSIDL_PROGRAM_FILES, CSIDL_LOCAL_APPDATA};

TEST(IsProtectedFolder, ApplicationDirectoriesAreNotProtected) {
    for (int csidl : ApplicationHomes) {
        std::string folder = FolderOf(csidl);
        ASSERT_FALSE(folder.empty()) << "the machine reports no folder for csidl " << csidl;
        const std::string dirs[] = {
            WithTrailingSeparator(folder) + "ZarnoGuardApp" + PATH_SEP,
            WithTrailingSeparator(folder) + "ZarnoGuardApp",
            WithTrailingSeparator(ParentOf(folder)) + "ZarnoGuardApp" + PATH_SEP,
            // Shares the folder's name as a prefix but is not the folder.
            WithoutTrailingSeparator(folder) + "ZarnoGuardApp" + PATH_SEP,
        };
        for (const std::string& dir : dirs)
            EXPECT_EQ(0, IsProtectedFolder(dir.c_str())) << "csidl " << csidl << ": " << dir;
        // A prefix of the folder's name is not a folder above it, unless the
        // machine happens to have a special folder of that very name.
        std::string cut = WithoutTrailingSeparator(folder);
        cut.pop_back();
        bool named = false;
        for (int other = 0; other < 0x40; other++) {
            std::string o = FolderOf(other);
            if (!o.empty() && InCase(WithoutTrailingSeparator(o), false) == InCase(cut, false))
                named = true;
        }
        if (!named) {
            EXPECT_EQ(0, IsProtectedFolder(cut.c_str())) << "csidl " << csidl << ": " << cut;
        }
    }
}

TEST(IsProtectedFolder, OverlongPathIsProtected) {
    std::string dir = WithTrailingSeparator(FolderOf(CSIDL_APPDATA)) + std::string(TextSize, 'a');
    EXPECT_EQ(1, IsProtectedFolder(dir.c_str()));
}

// Removes only inside a temporary directory of its own.
TEST(RemoveTreeGuarded, RemovesAnApplicationDirectory) {
    namespace fs = std::filesystem;
    fs::path base = fs::temp_directory_path() / ("zarno-guard-" + std::to_string(std::random_device{}()));
    ASSERT_FALSE(fs::exists(base));
    fs::path app = base / "app";
    fs::create_directories(app / "bin");
    std::ofstream(app / "bin" / "plugin.dll") << "x";
    std::string dir = app.string() + PATH_SEP;
    ASSERT_EQ(0, IsProtectedFolder(dir.c_str()));
    TestMode = 0;
    EXPECT_EQ(0, RemoveTreeGuarded(dir.c_str()));
    EXPECT_FALSE(fs::exists(app));
    EXPECT_TRUE(fs::exists(base));
    fs::remove_all(base);
}

// Under Wine: the profile's folders moved, as users move them, into a
// folder of the sandbox that stands for the profile. Every name the file
// system gives them leads to a refusal; folders that only share a name with
// one are removed.
class GuardSpellings : public zt::Sandboxed {};

TEST_F(GuardSpellings, EveryNameOfAProtectedFolderIsRefused) {
    using namespace zt;
    if (!RealShell()) GTEST_SKIP() << "moves the shell folders of the Wine prefix";
    const std::string profile = MakeDir("Profile");
    const std::pair<std::string, std::string> moves[] = {
        {"Favorites", "Favorites"}, {"Personal", "Έγγραφα"}, {"Desktop", "Рабочий стол"}};
    std::vector<std::unique_ptr<MovedShellFolder>> moved;
    for (const auto& [value, folder] : moves) {
        moved.push_back(std::make_unique<MovedShellFolder>(value, profile + "\\" + folder));
        WriteFile("Profile/" + folder + "/keep.txt", "keep");
    }
    // The suite's runner maps a drive letter onto the folder of the sandboxes.
    const char* mapped = getenv("ZARNO_MAPPED_SANDBOX");
    const char* sandboxes = getenv("ZARNO_SANDBOX");
    ASSERT_TRUE(mapped != NULL && sandboxes != NULL && profile.rfind(sandboxes, 0) == 0);
    const std::string drive = mapped + profile.substr(strlen(sandboxes));
    const std::string refused[] = {
        "\\\\?\\" + profile + "\\Favorites\\",
        "\\\\.\\" + profile + "\\Favorites\\",
        profile + "\\ΈΓΓΡΑΦΑ\\",
        InCase(profile, false) + "\\рабочий стол\\",
        drive + "\\Έγγραφα\\",
    };
    const std::string key = EntryKey(product), exe = Install("Tools");
    const std::string confirm = "Are you sure to uninstall 'Demo'?\nAll files will be removed."
                                "\n\n(Please close all running sessions)";
    for (const std::string& location : refused) {
        WriteValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, "Demo");
        WriteValue(HKEY_LOCAL_MACHINE, key, "InstallLocation", REG_SZ, location);
        Result r = RunApp(exe, {"-d", product}, {Yes, Ok});
        EXPECT_EQ(r.exitCode, 0) << location;
        ExpectBoxes(r, {{confirm, "Yes No Cancel"},
                        {"Cannot completely remove files. You must manually delete:\n'" +
                             location + "'.",
                         "OK"}});
        EXPECT_NE(r.out.find("refusing to remove protected folder: " + location + "\n"),
                  std::string::npos)
            << r.out;
        for (const auto& move : moves) EXPECT_TRUE(Exists("Profile/" + move.second + "/keep.txt"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
    }
    for (const std::string rel : {"ΩΜΈΓΑ/Harbo", "Favorites"}) {
        WriteFile(rel + "/harbo.dll", "dll");
        WriteValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, "Demo");
        WriteValue(HKEY_LOCAL_MACHINE, key, "InstallLocation", REG_SZ, Path(rel) + "\\");
        Result r = RunApp(exe, {"-d", product}, {Yes, Ok});
        ExpectBoxes(r, {{confirm, "Yes No Cancel"}, {"Successfully uninstalled 'Demo'.", "OK"}});
        EXPECT_FALSE(Exists(rel)) << r.out;
    }
}

}  // namespace
