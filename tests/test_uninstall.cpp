// The whole life of an installation as a user meets it: registration, the
// uninstall started from Add/Remove Programs ("-u"), the copy in the
// temporary directory ("-d"), the boxes, and what is left afterwards.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "harness.h"

using namespace zt;
namespace fs = std::filesystem;

static std::string Confirm(const std::string& display) {
    return "Are you sure to uninstall '" + display +
           "'?\nAll files will be removed.\n\n(Please close all running sessions)";
}

class Lifecycle : public Installed {
  protected:
    void SetUp() override {
        Installed::SetUp();
        WriteFile("Tools/harbo.dll", "dll");
        WriteFile("Tools/sub/deeper/notes.txt", "notes");
        MakeDir("Tools/empty");
    }
    void Register(const std::string& display = "Demo Plug-in") {
        Result r = RunApp(exe, {"-r", product, display});
        ASSERT_EQ(r.exitCode, 0);
    }
};

static std::string TempDir() {
    char temp[MAX_PATH];
    EXPECT_GT(GetTempPathA(sizeof temp, temp), 0u);
    return temp;
}

// What is scheduled for the next restart: each operation "\??\PATH", NUL,
// the new name (none for a deletion), NUL.
static std::string Pending() {
    DWORD type = 0;
    std::string list;
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                          "PendingFileRenameOperations", &type, &list));
    EXPECT_EQ(type, (DWORD)REG_MULTI_SZ);
    return list;
}
static std::string Deletion(const std::string& path) { return "\\??\\" + path + std::string(2, '\0'); }

TEST_F(Lifecycle, UninstallFromTheTemporaryCopyRemovesEverything) {
    Register();
    Result r = RunApp(exe, {"-u", product}, {Yes, Ok});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {"Successfully uninstalled 'Demo Plug-in'.", "OK"}});
    EXPECT_FALSE(Exists("Tools"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    std::string head = "Copying: " + exe + " -> ";
    ASSERT_EQ(r.out.substr(0, head.size()), head) << r.out;
    std::string copy = r.out.substr(head.size(), r.out.find('\n') - head.size());
    // The copy lies in a folder of its own that this run made in the
    // temporary directory.
    fs::path folder = fs::path(copy).parent_path();
    EXPECT_EQ(folder.parent_path().string() + PATH_SEP, TempDir());
    EXPECT_EQ(folder.filename().string().rfind("zarnouns-", 0), 0u) << copy;
    EXPECT_EQ(fs::path(copy).filename().string(), AppFileName());
    EXPECT_TRUE(fs::exists(copy));
    std::string executing = "\nExecuting: \"" + copy + "\" -d \"" + product + "\"\n";
    EXPECT_EQ(r.out.substr(head.size() + copy.size(), executing.size()), executing);
    EXPECT_NE(r.out.find("Executed succesfully!\n"), std::string::npos);
    // An administrator's copy and its folder are deleted at the next restart.
    EXPECT_NE(Pending().find(Deletion(copy) + Deletion(folder.string())), std::string::npos);
}

// An IDE that has the plug-in loaded: nothing changes until every file can
// go, and the box names what holds them.
TEST_F(Lifecycle, FilesInUseAreNamedAndNothingGoesUntilTheyAreFree) {
    Register();
    std::string dll = dir + "harbo.dll", notes = Path("Tools/sub/deeper/notes.txt");
    HoldFile(dll, "Harbo IDE");
    HoldFile(notes, "Harbo IDE");
    const std::string head = "Cannot uninstall 'Demo Plug-in' while it is in use by:\n",
                      tail = "\n\nClose it and choose Retry, or Cancel to keep it installed.";
    auto holders = [&](const Box& box) {
        EXPECT_EQ(box.buttons, "Retry Cancel");
        EXPECT_EQ(box.text.substr(0, head.size()), head);
        EXPECT_EQ(box.text.substr(box.text.size() - tail.size()), tail);
        if (box.text.size() < head.size() + tail.size()) return std::vector<std::string>();
        return SortedLines(box.text.substr(head.size(), box.text.size() - head.size() - tail.size()) + "\n");
    };
    // The program named once, else the paths of both files.
    std::vector<std::string> named = RestartManagerNamesPrograms()
                                         ? std::vector<std::string>{"Harbo IDE"}
                                         : SortedLines(dll + "\n" + notes + "\n");
    for (auto args : {std::vector<std::string>{"-d", product}, {"-t", "-d", product}}) {
        Result r = RunApp(exe, args, {Yes, Cancel});
        EXPECT_EQ(r.exitCode, 1);
        ASSERT_EQ(r.boxes.size(), 2u) << r.out;
        EXPECT_EQ(holders(r.boxes[1]), named);
        EXPECT_EQ(SortedLines(r.out), SortedLines("in use: " + dll + "\nin use: " + notes + "\n"));
        EXPECT_TRUE(Exists("Tools/harbo.dll"));
        EXPECT_TRUE(Exists("Tools/sub/deeper/notes.txt"));
        EXPECT_TRUE(Exists("Tools/empty"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    }
    // Retry while they are held asks again; once they are let go, everything
    // goes. Under Wine through its own Add/Remove Programs client.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    Result r = RealShell() ? RunApp(std::string(system) + "\\uninstaller.exe", {"--remove", product},
                                    {Yes, Retry, Free, Retry, Ok})
                           : RunApp(exe, {"-u", product}, {Yes, Retry, Free, Retry, Ok});
    EXPECT_FALSE(r.timedOut);
    ASSERT_EQ(r.boxes.size(), 4u) << r.out;
    EXPECT_EQ(r.boxes[0].text, Confirm("Demo Plug-in"));
    EXPECT_EQ(holders(r.boxes[1]), named);
    EXPECT_EQ(r.boxes[2].text, r.boxes[1].text);
    EXPECT_EQ(r.boxes[3].text, "Successfully uninstalled 'Demo Plug-in'.");
    EXPECT_FALSE(Exists("Tools"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

// The file `trace` says `path` was moved aside to, after checking the lines
// that rename it and schedule it and then its folder `dir`.
static std::string MovedAside(const std::string& trace, const std::string& path,
                              const std::string& dir) {
    std::string head = "renamed: " + path + " -> ";
    size_t at = trace.find(head), end = trace.find('\n', at);
    if (at == std::string::npos || end == std::string::npos) return ADD_FAILURE() << trace, "";
    std::string aside = trace.substr(at + head.size(), end - at - head.size());
    std::string name = aside.substr(dir.size());
    EXPECT_EQ(aside.substr(0, dir.size()), dir);
    EXPECT_EQ(name.substr(0, 9) + name.substr(name.size() - 4), "zarnouns-.del") << name;
    std::string folder = dir.substr(0, dir.size() - 1);
    EXPECT_EQ(trace.substr(end + 1).find("delete at restart: " + aside + "\ndelete at restart: " +
                                         folder + "\n"), 0u) << trace;
    EXPECT_NE(Pending().find(Deletion(aside) + Deletion(folder)), std::string::npos);
    EXPECT_EQ(Pending().find("\\??\\" + path + '\0'), std::string::npos);
    return aside;
}

// A loaded plug-in: Continue removes the rest now and its file at the next
// restart, under a name of its own, so that a reinstall before then stays.
TEST_F(Lifecycle, ALoadedPlugInGoesAtTheNextRestartAndAReinstallStays) {
    Register();
    std::string dll = dir + "harbo.dll";
    HoldFile(dll, "Harbo IDE");
    std::string later = "'Demo Plug-in' is in use by:\n" +
                        (RestartManagerNamesPrograms() ? "Harbo IDE" : dll) +
                        "\n\nClose it and choose Try Again to uninstall it now, Continue to "
                        "uninstall it now and delete the files in use when Windows restarts, or "
                        "Cancel to keep it installed.";
    Result r = RunApp(exe, {"-d", product}, {Yes, Cancel});
    EXPECT_EQ(r.exitCode, 1);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"}, {later, "Cancel Try Again Continue"}});
    EXPECT_EQ(r.out, "in use: " + dll + "\n");
    EXPECT_TRUE(Exists("Tools/harbo.dll"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));

    r = RunApp(exe, {"-u", product}, {Yes, Continue, Ok});
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {later, "Cancel Try Again Continue"},
                    {"Successfully uninstalled 'Demo Plug-in'.\nThe files that were in use are "
                     "deleted when Windows restarts.", "OK"}});
    std::string aside = MovedAside(r.out, dll, dir);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    EXPECT_FALSE(Exists("Tools/harbo.dll"));
    EXPECT_FALSE(Exists("Tools/sub"));
    EXPECT_TRUE(fs::exists(aside));

    Install("Tools");
    WriteFile("Tools/harbo.dll", "new");
    Register();
    FreeHeldFiles();
    Restart();
    EXPECT_FALSE(fs::exists(aside));
    std::ifstream kept(fs::u8path(dll));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "new");
    kept.close();  // an open stream would hold it without delete sharing
    EXPECT_TRUE(fs::exists(exe));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));

    // Try Again once it is let go: everything goes at once.
    HoldFile(dll, "Harbo IDE");
    r = RunApp(exe, {"-u", product}, {Yes, Free, TryAgain, Ok});
    ASSERT_EQ(r.boxes.size(), 3u) << r.out;
    EXPECT_EQ(r.boxes[2].text, "Successfully uninstalled 'Demo Plug-in'.");
    EXPECT_FALSE(Exists("Tools"));
}

// Renaming needs nothing but the file; deleting at the restart needs an
// administrator. Without, the user may only retry.
TEST_F(Lifecycle, WithoutTheRightsToScheduleALoadedPlugInWaits) {
    if (!CanRefuseMachineRights()) GTEST_SKIP() << "no elevation here: rights are not enforced";
    WriteValue(HKEY_CURRENT_USER, EntryKey(product), "DisplayName", REG_SZ, "User Plug-in");
    WriteValue(HKEY_CURRENT_USER, EntryKey(product), "InstallLocation", REG_SZ, dir);
    HoldFile(dir + "harbo.dll", "Harbo IDE");
    SetNonAdmin(true);
    Result silent = RunApp(exe, {"-s", "-d", product});
    Result r = RunApp(exe, {"-d", product}, {Yes, Cancel});
    SetNonAdmin(false);
    EXPECT_EQ(silent.exitCode, PlatformExit(1618));
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[1].buttons, "Retry Cancel");
    EXPECT_TRUE(Exists("Tools/harbo.dll"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, EntryKey(product)));
}

TEST_F(Lifecycle, AProgramPlantedInTheTemporaryFolderIsNeverStarted) {
    Register();
    std::string planted = TempDir() + AppFileName(), log = TempDir() + "planted.log";
    PlantProgram(planted);
    Result r = RunApp(exe, {"-u", product}, {Yes, Ok});
    bool started = fs::exists(log);
    RemovePlantedProgram(planted);
    fs::remove(log);
    EXPECT_FALSE(started);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {"Successfully uninstalled 'Demo Plug-in'.", "OK"}});
    EXPECT_FALSE(Exists("Tools"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

// Windows runs the uninstall command unelevated; a per-machine entry then
// needs an administrator's consent, asked once.
TEST_F(Lifecycle, APerMachineEntryIsUninstalledAfterOneConsent) {
    if (!CanRefuseMachineRights()) GTEST_SKIP() << "no elevation here: rights are not enforced";
    Register();
    SetNonAdmin(true);
    std::string needs = "Uninstalling '" + product + "' needs administrator rights.";
    Result r = RunApp(exe, {"-t", "-u", product}, {No, Ok});
    ASSERT_EQ(r.boxes.size(), 2u) << r.out;
    EXPECT_EQ(r.boxes[0].caption, ElevationPrompt);
    EXPECT_EQ(r.boxes[0].text, "\"" + exe + "\" -t -u \"" + product + "\"");
    EXPECT_EQ(r.boxes[1].text, needs);
    EXPECT_EQ(r.out, "");
    r = RunApp(exe, {"-d", product}, {Ok});
    ExpectBoxes(r, {{needs, "OK"}});
    EXPECT_TRUE(Exists("Tools/harbo.dll"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));

    r = RunApp(exe, {"-u", product}, {Yes, Yes, Ok});
    SetNonAdmin(false);
    EXPECT_FALSE(r.timedOut);
    ASSERT_EQ(r.boxes.size(), 3u) << r.out;
    EXPECT_EQ(r.boxes[0].text, "\"" + exe + "\" -u \"" + product + "\"");
    EXPECT_EQ(r.boxes[1].text, Confirm("Demo Plug-in"));
    EXPECT_EQ(r.boxes[2].text, "Successfully uninstalled 'Demo Plug-in'.");
    EXPECT_FALSE(Exists("Tools"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

TEST_F(Lifecycle, UninstallInProcessTracesEachStep) {
    Register();
    Result r = RunApp(exe, {"-d", product}, {Yes, Ok});
    EXPECT_EQ(r.exitCode, 0);
    std::string ini = dir + "zarnouns.ini";
    std::string head = "delete: " + product + " (" + dir + ")\nchecking ini file: " + ini +
                       "!\ncannot open ini file: " + ini + "!\n-> " + dir + "\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_NE(r.out.find("-> " + dir + "sub" + PATH_SEP + "deeper" + PATH_SEP + "\n"),
              std::string::npos);
    // The running executable itself lies in the tree: where the platform
    // refuses to delete it, the outcome says so.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    EXPECT_FALSE(Exists("Tools/sub"));
    EXPECT_FALSE(Exists("Tools/harbo.dll"));
}

TEST_F(Lifecycle, DecliningChangesNothing) {
    Register();
    const struct {
        Answer answer;
        int exit;
    } cases[] = {{No, 0}, {Cancel, 1}, {Close, 1}};
    for (const auto& c : cases) {
        for (const char* option : {"-d", "-u"}) {
            Result r = RunApp(exe, {option, product}, {c.answer});
            EXPECT_FALSE(r.timedOut);
            if (std::string(option) == "-d") EXPECT_EQ(r.exitCode, c.exit);
            ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"}});
            EXPECT_TRUE(Exists("Tools/harbo.dll"));
            EXPECT_TRUE(Exists("Tools/empty"));
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
            EXPECT_EQ(r.out.find("delete:"), std::string::npos);
        }
    }
}

TEST_F(Lifecycle, NotInstalledShowsOneBoxAndNothingElse) {
    for (const char* option : {"-d", "-u"}) {
        Result r = RunApp(exe, {option, product}, {Ok});
        EXPECT_EQ(r.exitCode, 0);
        ExpectBoxes(r, {{"'" + product + "' not installed!", "OK"}});
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(Exists("Tools/harbo.dll"));
    }
}

TEST_F(Lifecycle, EntryOnlyUnderTheUserIsFoundAndDeletedThere) {
    std::string key = EntryKey(product);
    WriteValue(HKEY_CURRENT_USER, key, "DisplayName", REG_SZ, "User Plug-in");
    WriteValue(HKEY_CURRENT_USER, key, "InstallLocation", REG_SZ, dir);
    Result r = RunApp(exe, {"-d", product}, {Yes, Ok});
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, Confirm("User Plug-in"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
    EXPECT_FALSE(Exists("Tools/sub"));
}

TEST_F(Lifecycle, TestModeKeepsTheEntryAndTheFilesButNotEmptyFolders) {
    Register();
    Result r = RunApp(exe, {"-t", "-d", product}, {Yes, Ok});
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {"Cannot completely remove files. You must manually delete:\n'" + dir + "'.",
                     "OK"}});
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    EXPECT_TRUE(Exists("Tools/harbo.dll"));
    EXPECT_TRUE(Exists("Tools/sub/deeper/notes.txt"));
    EXPECT_FALSE(Exists("Tools/empty"));
}

TEST_F(Lifecycle, RemovalScriptIsFollowedInsteadOfTheTree) {
    WriteFile("Tools/zarnouns.ini", std::string("; listed files only\nharbo.dll\nsub") + PATH_SEP +
                                        "deeper" + PATH_SEP + "notes.txt\n");
    Register();
    Result r = RunApp(exe, {"-d", product}, {Yes, Ok});
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {"Successfully uninstalled 'Demo Plug-in'.", "OK"}});
    EXPECT_FALSE(Exists("Tools/harbo.dll"));
    EXPECT_FALSE(Exists("Tools/sub/deeper/notes.txt"));
    EXPECT_TRUE(Exists("Tools/sub/deeper"));
    EXPECT_TRUE(Exists("Tools/empty"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

TEST_F(Lifecycle, ScriptWhoseLastSectionFailsReportsIncompleteRemoval) {
    WriteFile("Tools/zarnouns.ini", "harbo.dll\n[*]\n");
    Register();
    Result r = RunApp(exe, {"-t", "-d", product}, {Yes, Ok});
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {"Cannot completely remove files. You must manually delete:\n'" + dir + "'.",
                     "OK"}});
    EXPECT_FALSE(Exists("Tools/harbo.dll"));  // listed files go in test mode too
    EXPECT_TRUE(Exists("Tools/sub/deeper/notes.txt"));
    EXPECT_NE(r.out.find("Found last section: [*], closing INI file.\ndelete(tree) all files!\n"),
              std::string::npos);
}

TEST_F(Lifecycle, MissingOrUnsafeLocationTouchesNoFile) {
    std::string key = EntryKey(product);
    const struct {
        bool present;
        std::string location, shown;
    } cases[] = {
        {false, "", "<no InstallLocation>"},
        {true, "", "<no InstallLocation>"},
    };
    for (const auto& c : cases) {
        WriteValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, "Demo");
        if (c.present) WriteValue(HKEY_LOCAL_MACHINE, key, "InstallLocation", REG_SZ, c.location);
        // A script in the working directory must not be looked for.
        WriteFile("Tools/zarnouns.ini", "harbo.dll\n");
        Result r = RunApp(exe, {"-d", product}, {Yes, Ok}, Path("Tools"));
        ExpectBoxes(r, {{Confirm("Demo"), "Yes No Cancel"},
                        {"Cannot completely remove files. You must manually delete:\n'" + c.shown +
                             "'.",
                         "OK"}});
        EXPECT_EQ(r.out, "delete: " + product + " (" + c.shown + ")\n");
        EXPECT_TRUE(Exists("Tools/harbo.dll"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
    }
}

// While an uninstall waits at its question, a second one of the entry,
// however started and however the name is spelt, changes nothing; the
// first, answered, goes on as if alone.
TEST_F(Lifecycle, ASecondUninstallWhileTheFirstAsksIsRefused) {
    Register();
    std::string upper = product;
    for (char& c : upper) c = (char)toupper((unsigned char)c);
    std::vector<Result> seconds;
    Result first = RunApp(exe, {"-u", product}, {Act, Yes, Ok}, "", nullptr, [&] {
        for (const char* option : {"-u", "-d"})
            seconds.push_back(RunApp(exe, {option, upper}, {Ok}));
        EXPECT_TRUE(Exists("Tools/sub/deeper/notes.txt"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    });
    for (const Result& r : seconds) {
        ExpectBoxes(r, {{"An uninstall of 'Demo Plug-in' is already running.", "OK"}});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
    }
    ExpectBoxes(first, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                        {"Successfully uninstalled 'Demo Plug-in'.", "OK"}});
    EXPECT_FALSE(Exists("Tools"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

// Another program deletes the entry while the uninstall asks: the uninstall
// goes by the folder and name it read at its start.
TEST_F(Lifecycle, AnEntryDeletedMeanwhileChangesNothingOfTheRun) {
    Register();
    Result r = RunApp(exe, {"-u", product}, {Yes, Ok}, "", nullptr,
                      [&] { DeleteKeyTree(HKEY_LOCAL_MACHINE, EntryKey(product)); });
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                    {"Successfully uninstalled 'Demo Plug-in'.", "OK"}});
    EXPECT_NE(r.out.find("\ndelete: " + product + " (" + dir + ")\n"), std::string::npos) << r.out;
    EXPECT_FALSE(Exists("Tools"));
}

TEST_F(Lifecycle, RefusesNamesBeforeAnythingElse) {
    for (const char* option : {"-d", "-u"}) {
        Result r = RunApp(exe, {option, "a\"b"}, {Ok});
        ExpectBoxes(r, {{"Invalid product name 'a\"b': it holds a backslash or a double quote.", "OK"}});
        EXPECT_EQ(r.out, "");
    }
}

// ---- Silent runs, driven as a deployment tool drives them ----

// The publisher's folder that setup made above the installation folder goes
// with it, when nothing else is in it and it lies directly in a programs
// folder: here the user's own, in the sandbox.
TEST_F(Lifecycle, ThePublishersFolderGoesOnlyWhenEmptyAndInAProgramsFolder) {
    MakeDir("Local");
    MovedShellFolder moved("Local AppData", Path("Local"));
    // The stand-in's own folder exists once it is made.
    if (const char* machine = getenv("ZARNOUNS_MACHINE"))
        fs::create_directories(std::string(machine) + "/c/Users/user/AppData/Local");
    char folder[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, folder, CSIDL_LOCAL_APPDATA, FALSE));
    const std::string programs = std::string(folder) + PATH_SEP + "Programs";
    ASSERT_EQ(programs.rfind(sandbox, 0), 0u) << programs;
    struct Row {
        std::string install, other;  // below the local folder; `other` is also there
        bool goes;
        std::vector<std::string> args;
        bool held = false;  // the plug-in loaded: at the restart, after it
    } rows[] = {
        {"Programs/Vostrel/Harbo", "", true, {"-u"}},
        {"Programs/Vostrel2/Harbo", "Programs/Vostrel2/Other/other.dll", false, {"-u"}},
        {"Programs/Vostrel3/Harbo", "Programs/Vostrel3/readme.txt", false, {"-u"}},
        {"Programs/Harbo", "", false, {"-u"}},  // directly in the programs folder
        {"Tools/Vostrel/Harbo", "", false, {"-u"}},
        // A silent run's starter: its file goes last, the publisher's after it.
        {"Programs/Vostrel4/Harbo", "", true, {"-s", "-u"}},
        {"Programs/Vostrel5/Harbo", "", true, {"-s", "-u"}, true},
        {"Programs/Vostrel6/Harbo", "Programs/Vostrel6/readme.txt", false, {"-s", "-u"}, true},
    };
    for (const Row& row : rows) {
        const std::string local = fs::relative(fs::u8path(folder), fs::u8path(sandbox)).u8string();
        const std::string rel = local + "/" + row.install;
        const std::string app = Install(rel), publisher = fs::path(Path(rel)).parent_path().string();
        WriteFile(rel + "/harbo.dll", "dll");
        if (!row.other.empty()) WriteFile(local + "/" + row.other, "other");
        ASSERT_EQ(RunApp(app, {"-r", product, "Demo"}).exitCode, 0);
        std::vector<std::string> args = row.args;
        args.push_back(product);
        if (row.held) HoldFile(Path(rel) + PATH_SEP + "harbo.dll", "Harbo IDE");
        // A silent run shows no box: nothing to answer, nothing to wait for.
        const bool silent = row.args[0] == std::string("-s");
        Result r = RunApp(app, args, silent ? std::vector<Answer>{} : std::vector<Answer>{Yes, Ok});
        EXPECT_FALSE(r.timedOut) << row.install;
        if (row.held) {
            EXPECT_EQ(r.out.find("delete at restart: " + publisher + "\n") != std::string::npos,
                      row.goes)
                << r.out;
            EXPECT_TRUE(fs::exists(fs::u8path(publisher)));
            FreeHeldFiles();
            Restart();
        }
        // The silent starter's file, and so the folders, go once it has ended.
        for (int i = 0; i < 50 && fs::exists(fs::u8path(Path(rel))); i++) Sleep(100);
        EXPECT_FALSE(Exists(rel)) << row.install << "\n" << r.out;
        EXPECT_EQ(!fs::exists(fs::u8path(publisher)), row.goes) << row.install << "\n" << r.out;
        EXPECT_EQ(r.out.find("removed empty folder: " + publisher + "\n") != std::string::npos,
                  row.goes && !row.held)
            << row.install << "\n" << r.out;
        EXPECT_TRUE(fs::exists(fs::u8path(programs)));
        if (!row.other.empty()) EXPECT_TRUE(Exists(local + "/" + row.other));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    }
}

// The log of silent runs, begun afresh here; CR LF read as LF.
static std::string LogPath() { return TempDir() + "zarnouns.log"; }
static std::string ReadLog() {
    std::ifstream f(LogPath(), std::ios::binary);
    std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>()), lf;
    for (char c : log)
        if (c != '\r') lf.push_back(c);
    return lf;
}

class Deployment : public Lifecycle {
  protected:
    void SetUp() override {
        Lifecycle::SetUp();
        fs::remove(LogPath());
        Register();
    }
    // deploy's report: the exit code, then the entry and the folder at the
    // exit and a second later. The harness's box answerer runs throughout.
    std::string Deploy() {
        Result r = RunApp(DeployPath(), {product});
        EXPECT_FALSE(r.timedOut);
        EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
        // The trace of the program it started comes first, on the same output.
        size_t report = r.out.rfind("exit code: ");
        return report == std::string::npos ? r.out : r.out.substr(report);
    }
    std::string Report(int code, const std::string& atExit, const std::string& later) {
        return "exit code: " + std::to_string(PlatformExit(code)) + "\nat exit: " + atExit +
               "\na second later: " + later + "\n";
    }
};

TEST_F(Deployment, RemovesEverythingAndLogsTheRun) {
    std::string out = Deploy();
    // The installed program may outlast the run it started by a moment.
    std::string gone = "entry no, files -";
    if (out != Report(0, gone, gone))
        EXPECT_EQ(out, Report(0, "entry no, files " + AppFileName(), gone));
    std::string log = ReadLog();
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    snprintf(date, sizeof date, "%04u-%02u-%02u ", now.wYear, now.wMonth, now.wDay);
    std::string first = log.substr(0, log.find('\n'));
    EXPECT_EQ(first.substr(0, 11), date);
    EXPECT_EQ(first[13], ':') << first;
    // The command line as Windows holds it (the stand-in quotes only what has a blank).
    std::string command = first.substr(first.find(' ', 11) + 1);
    EXPECT_TRUE(command == "\"" + exe + "\" -s -u \"" + product + "\"" ||
                command == exe + " -s -u " + product)
        << first;
    EXPECT_NE(log.find("\nbox: Successfully uninstalled 'Demo Plug-in'.\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\ndelete: " + product + " (" + dir + ")\n"), std::string::npos) << log;
    ASSERT_GE(log.size(), 14u);
    EXPECT_EQ(log.substr(log.size() - 14), "\nexit code: 0\n") << log;
}

// Held without delete sharing, a file cannot even be renamed: the loaded
// plug-in stays as well.
TEST_F(Deployment, AFileInUseChangesNothingAndAsksForARetry) {
    std::string dll = dir + "harbo.dll";
    HoldFile(dll, "Harbo IDE");
    HoldFile(Path("Tools/sub/deeper/notes.txt"), "Harbo IDE");
    std::string out = Deploy();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "exit code: " + std::to_string(PlatformExit(1618)) + "\n");
    EXPECT_NE(out.find("\nat exit: entry yes,"), std::string::npos);
    for (const char* rel : {"Tools/harbo.dll", "Tools/sub/deeper/notes.txt", "Tools/empty"})
        EXPECT_TRUE(Exists(rel)) << rel;
    EXPECT_TRUE(fs::exists(exe));
    EXPECT_NE(ReadLog().find("\nin use: " + dll + "\n"), std::string::npos) << ReadLog();
}

// Files 320 and 1,000 characters deep in one chain of Greek folders: one
// held without delete sharing keeps everything in place; free, all goes.
TEST_F(Deployment, FilesPastMaxPathGoWholeOrNotAtAll) {
    std::vector<std::string> files = MakeDeepFiles(dir, "Αποθετήριο_κώδικα", {320, 1000}, "deep");
    HoldFile(files[1], "Harbo IDE");
    std::string out = Deploy();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "exit code: " + std::to_string(PlatformExit(1618)) + "\n");
    EXPECT_NE(out.find("\nat exit: entry yes,"), std::string::npos);
    for (const std::string& file : files) EXPECT_TRUE(fs::exists(fs::u8path(file))) << file;
    EXPECT_TRUE(Exists("Tools/harbo.dll"));
    EXPECT_NE(ReadLog().find("\nin use: " + files[1] + "\n"), std::string::npos) << ReadLog();
    FreeHeldFiles();
    out = Deploy();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "exit code: 0\n");
    EXPECT_EQ(out.substr(out.find("\na second later: ")), "\na second later: entry no, files -\n");
}

TEST_F(Deployment, ALoadedPlugInGoesAtTheNextRestartWith3010) {
    std::string dll = dir + "harbo.dll";
    HoldFile(dll, "Harbo IDE");
    std::string out = Deploy();
    std::string aside = MovedAside(ReadLog(), dll, dir);
    std::string name = aside.substr(dir.size());
    EXPECT_EQ(out.substr(out.find("\na second later: ")),
              "\na second later: entry no, files " + name + "\n");
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "exit code: " + std::to_string(PlatformExit(3010)) + "\n");
    EXPECT_EQ(ReadLog().substr(ReadLog().size() - 17), "\nexit code: 3010\n");
    FreeHeldFiles();
    Restart();
    EXPECT_FALSE(Exists("Tools"));
}

// Two silent uninstalls of the entry started together, as a double click
// does: one removes it all, the other changes nothing and ends with 1618.
// On a machine so busy that the second starts only after the first has
// ended, it finds no entry (1605) or no program: then the pair is tried again.
TEST_F(Deployment, TwoAtOnceOneRemovesTheOtherWaitsItsTurn) {
    Result r, other;
    for (int attempt = 0; attempt < 4; attempt++) {
        if (attempt > 0) {
            for (int i = 0; i < 50 && Exists("Tools"); i++) Sleep(100);
            Install("Tools");
            Register();
            fs::remove(LogPath());
        }
        for (int i = 0; i < 2000; i++) WriteFile("Tools/many/" + std::to_string(i), "x");
        bool late = false;
        std::thread second([&] {
            late = !fs::exists(fs::u8path(exe));
            if (!late) other = RunApp(exe, {"-s", "-u", product});
        });
        r = RunApp(exe, {"-s", "-u", product});
        second.join();
        if (!late && std::multiset<int>{r.exitCode, other.exitCode} !=
                         std::multiset<int>{0, PlatformExit(1605)})
            break;
    }
    EXPECT_EQ((std::multiset<int>{r.exitCode, other.exitCode}),
              (std::multiset<int>{0, PlatformExit(1618)}));
    for (int i = 0; i < 50 && Exists("Tools"); i++) Sleep(100);
    EXPECT_FALSE(Exists("Tools"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    std::string log = ReadLog();
    // The display name, or the key name where the entry went in between.
    EXPECT_NE(log.find("' is already running.\nexit code: 1618\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nbox: An uninstall of '"), std::string::npos) << log;
    EXPECT_EQ(log.find("''"), std::string::npos) << log;
}

TEST_F(Deployment, AUserProfileIsRefusedAsAFailure) {
    // The stand-in's profile exists once it is made.
    if (const char* machine = getenv("ZARNOUNS_MACHINE")) fs::create_directories(std::string(machine) + "/c/Users/user");
    char own[MAX_PATH] = "";
    ASSERT_TRUE(SHGetSpecialFolderPathA(NULL, own, CSIDL_PROFILE, FALSE));
    // Another user's profile, beside this one's.
    std::string profile = fs::path(own).parent_path().string() + PATH_SEP + product + PATH_SEP;
    fs::create_directories(profile);
    std::ofstream(profile + "ntuser.dat") << "profile";
    WriteValue(HKEY_LOCAL_MACHINE, EntryKey(product), "InstallLocation", REG_SZ, profile);
    std::string out = Deploy();
    bool kept = fs::exists(profile + "ntuser.dat");
    fs::remove_all(profile);
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "exit code: " + std::to_string(PlatformExit(1603)) + "\n");
    EXPECT_TRUE(kept);
    EXPECT_TRUE(Exists("Tools/harbo.dll"));
}

TEST_F(Deployment, DeclinedElevationIsReported) {
    if (!CanRefuseMachineRights()) GTEST_SKIP() << "no elevation here: rights are not enforced";
    SetNonAdmin(true);
    Result r = RunApp(exe, {"-s", "-u", product}, {No});
    SetNonAdmin(false);
    EXPECT_EQ(r.exitCode, PlatformExit(1602));
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "\"" + exe + "\" -s -u \"" + product + "\"");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
}

// ---- What is not the plug-in's: working copies, other programs ----

// Another program's Uninstall entry `name` with `value`, under HKCU or in
// a registry view of HKLM; gone again when the object is.
struct OtherEntry {
    HKEY root;
    REGSAM view;
    std::string name;
    OtherEntry(HKEY r, REGSAM v, const std::string& n, const std::string& value, const std::string& data)
        : root(r), view(v), name(n) {
        HKEY k;
        EXPECT_EQ(RegCreateKeyExA(root, (UninstallPrefix + name).c_str(), 0, NULL, 0,
                                  KEY_ALL_ACCESS | view, NULL, &k, NULL), ERROR_SUCCESS);
        RegSetValueExA(k, value.c_str(), 0, REG_SZ, (const BYTE*)data.c_str(), (DWORD)data.size() + 1);
        RegSetValueExA(k, "DisplayName", 0, REG_SZ, (const BYTE*)"Other Tool", 11);
        RegCloseKey(k);
    }
    ~OtherEntry() {
        HKEY list;
        std::string prefix(UninstallPrefix);
        prefix.pop_back();
        if (RegOpenKeyExA(root, prefix.c_str(), 0, KEY_ALL_ACCESS | view, &list) != ERROR_SUCCESS) return;
        RegDeleteKeyA(list, name.c_str());
        RegCloseKey(list);
    }
};

static std::string Read(const std::string& path) {
    std::ifstream f(fs::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Working copies of several kinds at several depths and three other programs
// lie in the installation beside the plug-in's files and what it made, one
// of them named through a link that leads into it from outside; an entry of
// this product's own name elsewhere keeps nothing.
TEST_F(Deployment, KeepsWorkingCopiesAndOtherProgramsWhole) {
    const std::vector<std::string> kept = {"repo/.git/HEAD", "repo/src/main.c", "a/b/sub/.GIT",
                                           "a/svn/.svn/wc.db", "a/fossil/_fossil_", "other/other.exe",
                                           "by-exe/bin/tool.exe", "by-exe/bin/tool.dll"};
    for (const std::string& rel : kept) WriteFile("Tools/" + rel, "kept " + rel);
    WriteFile("Tools/aliased/app.exe", "kept aliased/app.exe");
    for (const char* rel : {"cache/index.bin", "a/b/plain.txt", "mine/own.txt", "outside/.git/HEAD"})
        WriteFile(std::string(rel).rfind("outside", 0) == 0 ? rel : "Tools/" + std::string(rel), "x");
    std::error_code error;
    fs::create_directory_symlink(fs::u8path(Path("outside")), fs::u8path(Path("Tools/link")), error);
    // Wine makes no link here (and says it did): the row is the stand-in's.
    fs::create_directory_symlink(fs::u8path(Path("Tools")), fs::u8path(Path("alias")), error);
    bool aliased = fs::is_symlink(fs::u8path(Path("alias")), error);
    std::string other = Path("Tools/other"), bin = Path("Tools/by-exe/bin");
    OtherEntry byLocation(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, product + "-a", "InstallLocation", other);
    OtherEntry byUninstaller(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, product + "-b", "UninstallString",
                             bin + PATH_SEP + "tool.exe /uninstall");
    OtherEntry throughLink(HKEY_CURRENT_USER, 0, product + "-c", "InstallLocation", Path("alias/aliased"));
    OtherEntry own(HKEY_CURRENT_USER, 0, product, "InstallLocation", Path("Tools/mine"));

    std::string out = Deploy();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "exit code: 0\n") << out;
    for (const std::string& rel : kept) EXPECT_EQ(Read(Path("Tools/" + rel)), "kept " + rel) << rel;
    EXPECT_EQ(Exists("Tools/aliased/app.exe"), aliased);
    for (const char* rel : {"Tools/harbo.dll", "Tools/sub", "Tools/empty", "Tools/cache", "Tools/mine",
                            "Tools/a/b/plain.txt", "Tools/link"})
        EXPECT_FALSE(Exists(rel)) << rel;
    for (int i = 0; i < 50 && fs::exists(exe); i++) Sleep(100);
    EXPECT_FALSE(fs::exists(exe));
    EXPECT_TRUE(Exists("outside/.git/HEAD"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)));
    std::string log = ReadLog();
    for (std::string line : {"repo/ (a working copy)", "a/b/sub/ (a working copy)",
                             "a/svn/ (a working copy)", "a/fossil/ (a working copy)",
                             "other/ (where Other Tool is installed)",
                             "by-exe/bin/ (where Other Tool is installed)",
                             aliased ? "aliased/ (where Other Tool is installed)"
                                     : "other/ (where Other Tool is installed)"}) {
        for (char& c : line) c = c == '/' ? PATH_SEP : c;
        EXPECT_NE(log.find("\nkept: " + dir + line + "\n"), std::string::npos) << line << "\n" << log;
    }
}

// An installation folder that is itself a working copy: the entry goes,
// nothing of the tree does; the box says why the folder is still there.
// Test mode says the same and deletes nothing either.
TEST_F(Lifecycle, AnInstallationThatIsAWorkingCopyStaysWhole) {
    Register();
    MakeDir("Tools/.Hg");
    for (bool test : {true, false}) {
        Result r = RunApp(exe, test ? std::vector<std::string>{"-t", "-d", product}
                                    : std::vector<std::string>{"-u", product}, {Yes, Ok});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("kept: " + dir + " (a working copy)\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("\n-> "), std::string::npos) << r.out;
        ExpectBoxes(r, {{Confirm("Demo Plug-in"), "Yes No Cancel"},
                        {test ? "Cannot completely remove files. You must manually delete:\n'" + dir + "'."
                              : "Successfully uninstalled 'Demo Plug-in'.\n\nThese folders were kept, "
                                "as they are not the plug-in's:\n" + dir, "OK"}});
        for (const char* rel : {"Tools/harbo.dll", "Tools/sub/deeper/notes.txt", "Tools/empty", "Tools/.Hg"})
            EXPECT_TRUE(Exists(rel)) << rel;
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product)), test);
    }
}

// The boxes speak the user's display language; the trace and a silent run's
// log stay English, for the tools and the people who read them.
TEST_F(Deployment, BoxesSpeakTheUsersLanguageTheTraceAndTheLogEnglish) {
    if (!SetDisplayLanguage(0x0407))
        GTEST_SKIP() << "under Wine the language is each process's locale: tests/wine/languages";
    Result r = RunApp(exe, {"-d", product}, {Yes, Ok});
    EXPECT_EQ(r.exitCode, 0);
    ExpectBoxes(r, {{"Möchten Sie „Demo Plug-in“ wirklich deinstallieren?\nAlle Dateien werden "
                     "entfernt.\n\n(Bitte schließen Sie alle laufenden Sitzungen.)",
                     "Yes No Cancel"},
                    {"„Demo Plug-in“ wurde erfolgreich deinstalliert.", "OK"}});
    EXPECT_EQ(r.out.rfind("delete: " + product + " (" + dir + ")\nchecking ini file: ", 0), 0u)
        << r.out;
    exe = Install("Tools");
    Register();
    r = RunApp(exe, {"-s", "-d", product});
    EXPECT_EQ(r.exitCode, 0);
    std::string log = ReadLog();
    EXPECT_NE(log.find("\nbox: Are you sure to uninstall 'Demo Plug-in'?\nAll files will be "
                       "removed.\n\n(Please close all running sessions)\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\nbox: Successfully uninstalled 'Demo Plug-in'.\n"), std::string::npos) << log;
}
