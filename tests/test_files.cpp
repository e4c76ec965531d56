// Tree removal, the removal script and the special-folder table, called
// in-process. Every test that can delete works in a sandbox directory of its
// own under the temporary directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "zarnouns.h"

namespace fs = std::filesystem;

namespace {

const std::string Sep(1, PATH_SEP);

class Files : public ::testing::Test {
protected:
    std::string root;  // the sandbox, ending in the separator

    void SetUp() override {
        static int serial;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        // Under Wine in the suite's own sandbox drive, where links can be made.
        const char* sandboxes = getenv("ZARNO_SANDBOX");
        fs::path dir = (sandboxes != nullptr ? fs::path(sandboxes) : fs::temp_directory_path()) /
                       ("zarno_files_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        ASSERT_TRUE(fs::create_directories(dir));
        root = dir.string() + Sep;
        TestMode = 0;
    }
    void TearDown() override {
        TestMode = 0;
        std::error_code ignored;
        fs::remove_all(fs::path(root), ignored);
    }

    std::string P(const std::string& relative) const { return root + relative; }
    // Paths are UTF-8, as the program's are.
    static bool Exists(const std::string& path) {
        std::error_code ignored;
        return fs::exists(fs::symlink_status(fs::u8path(path), ignored));
    }
    static void MakeDir(const std::string& path) {
        ASSERT_TRUE(fs::create_directories(fs::u8path(path)));
    }
    static void Write(const std::string& path, const std::string& text) {
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
    void Script(const std::string& text) { Write(P("zarnouns.ini"), text); }
};

void Capture() {
    fflush(stdout);
    testing::internal::CaptureStdout();
}
std::string Captured() {
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// ---- tree removal ----

TEST_F(Files, TreeNestedChainTracesEveryLevel) {
    MakeDir(P("a" + Sep + "b"));
    Write(P("a" + Sep + "b" + Sep + "f.txt"), "x");
    Capture();
    EXPECT_EQ(RemoveTree(root.c_str()), 0);
    EXPECT_EQ(Captured(), "-> " + root + "\n-> " + P("a" + Sep) + "\n-> " +
                              P("a" + Sep + "b" + Sep) + "\n");
    EXPECT_FALSE(Exists(root));
}

TEST_F(Files, TreeDotNamesAreOrdinaryEntries) {
    MakeDir(P(".d" + Sep + "..e"));
    Write(P(".x"), "1");
    Write(P("..y"), "2");
    Write(P("...z"), "3");  // Windows drops trailing dots
    Write(P(".d" + Sep + "..e" + Sep + ".z"), "4");
    MakeDir(P("empty"));
    Capture();
    EXPECT_EQ(RemoveTree(root.c_str()), 0);
    std::vector<std::string> expected = {"-> " + root, "-> " + P(".d" + Sep),
                                         "-> " + P(".d" + Sep + "..e" + Sep),
                                         "-> " + P("empty" + Sep)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(zt::SortedLines(Captured()), expected);
    EXPECT_FALSE(Exists(root));
}

TEST_F(Files, TreeEmptyAndMissing) {
    for (int mode = 0; mode < 2; mode++) {
        TestMode = mode;
        std::string empty = P("e" + std::to_string(mode) + Sep);
        MakeDir(empty);
        Capture();
        EXPECT_EQ(RemoveTree(empty.c_str()), 0);
        EXPECT_EQ(Captured(), "-> " + empty + "\n");
        EXPECT_FALSE(Exists(empty));
    }
    std::string missing = P("missing" + Sep);
    Capture();
    EXPECT_EQ(RemoveTree(missing.c_str()), -1);
    EXPECT_EQ(Captured(), "-> " + missing + "\n");
}

// An empty path or a file given as the directory lists nothing: neither the
// current folder nor the file's folder loses an entry.
TEST_F(Files, TreeNeverListsWhatItWasNotGiven) {
    MakeDir(P("cwd"));
    Write(P("cwd" + Sep + "keep"), "k");
    Write(P("cwd" + Sep + "file"), "f");
    fs::path before = fs::current_path();
    fs::current_path(P("cwd"));
    for (std::string dir : {std::string(""), P("cwd" + Sep + "file") + Sep}) {
        Capture();
        EXPECT_EQ(RemoveTree(dir.c_str()), -1) << dir;
        EXPECT_EQ(Captured(), "-> " + dir + "\n");
    }
    fs::current_path(before);
    EXPECT_TRUE(Exists(P("cwd" + Sep + "keep")));
    EXPECT_TRUE(Exists(P("cwd" + Sep + "file")));
}

// Spellings of one folder: without its separator, and where the platform
// has them, the device forms "\\?\" and "\\.\"; traced as given.
TEST_F(Files, TreeTakesEverySpellingOfItsFolder) {
    std::vector<std::string> spellings = {P("d")};
    if (PATH_SEP == '\\')
        for (const char* form : {"\\\\?\\", "\\\\.\\"}) spellings.push_back(form + P("d" + Sep));
    for (const std::string& dir : spellings) {
        MakeDir(P("d"));
        Write(P("d" + Sep + "f"), "x");
        Capture();
        EXPECT_EQ(RemoveTree(dir.c_str()), 0) << dir;
        EXPECT_EQ(Captured(), "-> " + dir + (EndsInSeparator(dir.c_str()) ? "" : Sep) + "\n");
        EXPECT_FALSE(Exists(P("d"))) << dir;
    }
}

TEST_F(Files, TreeTestModeKeepsFilesRemovesEmptyDirs) {
    MakeDir(P("e1" + Sep + "e2"));
    MakeDir(P("f"));
    Write(P("keep.txt"), "k");
    Write(P("f" + Sep + "g.txt"), "g");
    TestMode = 1;
    Capture();
    EXPECT_EQ(RemoveTree(root.c_str()), -1);
    std::vector<std::string> expected = {"-> " + root, "-> " + P("e1" + Sep),
                                         "-> " + P("e1" + Sep + "e2" + Sep), "-> " + P("f" + Sep)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(zt::SortedLines(Captured()), expected);
    EXPECT_TRUE(Exists(P("keep.txt")));
    EXPECT_TRUE(Exists(P("f" + Sep + "g.txt")));
    EXPECT_FALSE(Exists(P("e1")));
}

// Links to a folder and to a file outside the tree go as links, never
// through them. Wine cannot delete a link as a link (its handle is the
// target; a link to a file even lists as a file): there both stay, and the
// removal is incomplete.
TEST_F(Files, TreeRemovesLinkButNotItsTarget) {
    MakeDir(P("outside"));
    Write(P("outside" + Sep + "precious.txt"), "p");
    MakeDir(P("tree"));
    if (!zt::MakeHostLink(P("tree" + Sep + "link"), P("outside")) ||
        !zt::MakeHostLink(P("tree" + Sep + "file"), P("outside" + Sep + "precious.txt")))
        GTEST_SKIP() << "no links can be made here";
    std::string tree = P("tree" + Sep);

    TestMode = 1;
    Capture();
    EXPECT_EQ(RemoveTree(tree.c_str()), -1);
    EXPECT_EQ(Captured(), "-> " + tree + "\n");
    EXPECT_TRUE(Exists(tree + "link"));

    TestMode = 0;
    Capture();
    EXPECT_EQ(RemoveTree(tree.c_str()), zt::RealShell() ? -1 : 0);
    EXPECT_EQ(Captured(), "-> " + tree + "\n");
    EXPECT_EQ(Exists(tree), zt::RealShell());
    EXPECT_TRUE(Exists(P("outside" + Sep + "precious.txt")));
}

// One chain of Greek folders past MAX_PATH and past the text buffers, with
// files 320 and 1,000 characters deep: removed whole, every folder traced
// whole in UTF-8.
TEST_F(Files, TreeRemovesPathsPastMaxPath) {
    std::vector<std::string> files = zt::MakeDeepFiles(root, "Αποθετήριο_κώδικα", {320, 1000}, "x");
    std::string expected;
    for (size_t at = root.size() - 1; at != std::string::npos; at = files[1].find(PATH_SEP, at + 1))
        expected += "-> " + files[1].substr(0, at + 1) + "\n";
    Capture();
    EXPECT_EQ(RemoveTree(root.c_str()), 0);
    EXPECT_EQ(Captured(), expected);
    EXPECT_FALSE(Exists(root));
}

// ---- removal script ----

TEST_F(Files, ScriptMissing) {
    std::string ini = P("zarnouns.ini");
    Capture();
    EXPECT_EQ(RunRemovalScript(root.c_str()), -2);
    EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\ncannot open ini file: " + ini + "!\n");
}

TEST_F(Files, ScriptPathTooLong) {
    std::string dir = root + std::string(1020 - root.size(), 'd');
    Capture();
    EXPECT_EQ(RunRemovalScript(dir.c_str()), -2);
    EXPECT_EQ(Captured(), "skipped, path too long: " + dir + Sep + "zarnouns.ini\n");
}

TEST_F(Files, ScriptLineClasses) {
    MakeDir(P("sub"));
    for (const char* name : {"harbo.dll", "#keep.txt", "a.txt ; remark", "plain.txt"})
        Write(P(name), "x");
    Write(P("sub" + Sep + "x.txt"), "x");
    std::string dirNoBackslash = root.substr(0, root.size() - 1);  // no trailing separator
    Script("\n   \t\n# harbo.dll\n;plain.txt\n  ; plain.txt\n  harbo.dll  \n#keep.txt\n"
           "a.txt ; remark\nsub" + Sep + "x.txt\nsub\nnothere.dll\n");
    TestMode = 1;  // listed files go in test mode too
    Capture();
    EXPECT_EQ(RunRemovalScript(dirNoBackslash.c_str()), 0);
    std::string ini = P("zarnouns.ini");
    EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\nfound '" + ini +
                              "', using INI Mode:\n"
                              "deleting file: '" + P("harbo.dll") + "'\n"
                              "deleting file: '" + P("a.txt ; remark") + "'\n"
                              "deleting file: '" + P("sub" + Sep + "x.txt") + "'\n"
                              "deleting file: '" + P("sub") + "'\n"
                              "deleting file: '" + P("nothere.dll") + "'\n");
    EXPECT_FALSE(Exists(P("harbo.dll")));
    EXPECT_FALSE(Exists(P("a.txt ; remark")));
    EXPECT_FALSE(Exists(P("sub")));
    EXPECT_TRUE(Exists(P("#keep.txt")));
    EXPECT_TRUE(Exists(P("plain.txt")));
}

TEST_F(Files, ScriptSectionKinds) {
    Write(P("harbo.dll"), "x");
    Script("[foo]\nharbo.dll\n[CSIDL_NOPE]\nharbo.dll\n[ csidl_fonts]\n[CSIDL_FONTS] x\n"
           "[csidl_\n[]\n[\n[CSIDL_STARTUP_X]\r\nharbo.dll\r\n");
    Capture();
    EXPECT_EQ(RunRemovalScript(root.c_str()), 0);
    std::string ini = P("zarnouns.ini");
    EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\nfound '" + ini +
                              "', using INI Mode:\n"
                              "*change category to: foo\nUnknown category: foo\n"
                              "*change category to: CSIDL_NOPE\nUnknown csidl: CSIDL_NOPE\n"
                              "*change category to:  csidl_fonts\nUnknown category:  csidl_fonts\n"
                              "*change category to: CSIDL_FONTS] x\nUnknown csidl: CSIDL_FONTS] x\n"
                              "*change category to: csidl_\nUnknown csidl: csidl_\n"
                              "*change category to: \nUnknown category: \n"
                              "*change category to: \nUnknown category: \n"
                              "*change category to: CSIDL_STARTUP_X\n"
                              "Unknown csidl: CSIDL_STARTUP_X\n");
    EXPECT_TRUE(Exists(P("harbo.dll")));
}

TEST_F(Files, ScriptLastSectionRemovesInstallDir) {
    Write(P("harbo.dll"), "x");
    Script("[foo]\n[*]\n");
    Capture();
    EXPECT_EQ(RunRemovalScript(root.c_str()), 0);
    std::string ini = P("zarnouns.ini");
    EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\nfound '" + ini +
                              "', using INI Mode:\n*change category to: foo\nUnknown category: foo\n"
                              "Found last section: [*], closing INI file.\n"
                              "delete(tree) all files!\n-> " + root + "\n");
    EXPECT_FALSE(Exists(root));
}

TEST_F(Files, ScriptStopsReadingAtLastSection) {
    Write(P("harbo.dll"), "x");
    Write(P("early.dll"), "x");
    Script("early.dll\r\n[*junk\r\nharbo.dll\r\n");
    TestMode = 1;
    Capture();
    EXPECT_EQ(RunRemovalScript(root.c_str()), -1);
    std::string ini = P("zarnouns.ini");
    EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\nfound '" + ini +
                              "', using INI Mode:\ndeleting file: '" + P("early.dll") + "'\n"
                              "Found last section: [*], closing INI file.\n"
                              "delete(tree) all files!\n-> " + root + "\n");
    EXPECT_FALSE(Exists(P("early.dll")));
    EXPECT_TRUE(Exists(P("harbo.dll")));
}

// UTF-8 with or without the mark, or the legacy code page (1252 on the
// stand-in and in the Wine prefix), judged line by line: each line names
// the file as it is on disk.
TEST_F(Files, ScriptEncodings) {
    const std::string mark = "\xEF\xBB\xBF", greek = "Ωμέγα 日本.cfg", muller = "Müller.cfg";
    auto deleting = [&](const std::string& name) { return "deleting file: '" + P(name) + "'\n"; };
    const struct {
        std::string script, trace;
        std::set<std::string> gone;
    } rows[] = {
        {mark + greek + "\n", deleting(greek), {greek}},
        {mark + "[foo]\nharbo.dll\n", "*change category to: foo\nUnknown category: foo\n", {}},
        {"M\xFCller.cfg\n" + greek + "\n", deleting(muller) + deleting(greek), {muller, greek}},
        // Converted, a line can outgrow the line buffer.
        {std::string(600, '\xFC') + "\nharbo.dll\n",
         "skipped over-long line\n" + deleting("harbo.dll"), {"harbo.dll"}},
    };
    for (const auto& row : rows) {
        for (const std::string& name : {greek, muller, std::string("harbo.dll")})
            Write(P(name), "x");
        Script(row.script);
        Capture();
        EXPECT_EQ(RunRemovalScript(root.c_str()), 0);
        std::string ini = P("zarnouns.ini");
        EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\nfound '" + ini +
                                  "', using INI Mode:\n" + row.trace);
        for (const std::string& name : {greek, muller, std::string("harbo.dll")})
            EXPECT_EQ(Exists(P(name)), !row.gone.count(name)) << name;
    }
}

TEST_F(Files, ScriptOverLongLinesAreSkippedWhole) {
    for (const char* name : {"harbo.dll", "other.dll", "third.dll"}) Write(P(name), "x");
    const std::string exact(1023, 'e');  // fits the line buffer, not the path buffer
    Script(std::string(1023, 'x') + "harbo.dll\n" + "other.dll\n" + std::string(3000, ' ') +
           "harbo.dll\r\n" + exact + "\n" + exact + "\r\nthird.dll");
    Capture();
    EXPECT_EQ(RunRemovalScript(root.c_str()), 0);
    std::string ini = P("zarnouns.ini");
    std::string tooLong = "skipped, path too long: " + root + exact + "\n";
    EXPECT_EQ(Captured(), "checking ini file: " + ini + "!\nfound '" + ini +
                              "', using INI Mode:\nskipped over-long line\n"
                              "deleting file: '" + P("other.dll") + "'\n"
                              "skipped over-long line\n" + tooLong + tooLong +
                              "deleting file: '" + P("third.dll") + "'\n");
    EXPECT_TRUE(Exists(P("harbo.dll")));
    EXPECT_FALSE(Exists(P("other.dll")));
    EXPECT_FALSE(Exists(P("third.dll")));
}

// ---- trimming and the table ----

TEST(TrimSpaces, Table) {
    struct { const char* in; const char* out; } rows[] = {
        {"", ""},
        {"x", "x"},
        {"   ", ""},
        {" \t\n\v\f\r", ""},
        {"  a b  ", "a b"},
        {"\tin\tside\t\r\n", "in\tside"},
        {"\xA0x\xA0", "\xA0x\xA0"},
        {" \x85 ", "\x85"},
        {"; c ", "; c"},
    };
    for (const auto& row : rows) {
        char buffer[64];
        strcpy(buffer, row.in);
        TrimSpaces(buffer);
        EXPECT_STREQ(buffer, row.out) << "input '" << row.in << "'";
    }
    TrimSpaces(nullptr);
}

TEST(SpecialFolders, TableRows) {
    int rows = 0;
    while (SpecialFolders[rows].name != nullptr) rows++;
    EXPECT_EQ(rows, 22);
    EXPECT_EQ(SpecialFolders[22].csidl, 0);
    EXPECT_STREQ(SpecialFolders[0].name, "CSIDL_APPDATA");
    EXPECT_EQ(SpecialFolders[0].csidl, 26);
    EXPECT_STREQ(SpecialFolders[7].name, "CSIDL_DESKTOP");
    EXPECT_EQ(SpecialFolders[7].csidl, 0);
    EXPECT_STREQ(SpecialFolders[10].name, "CSIDL_FONTS");
    EXPECT_EQ(SpecialFolders[10].csidl, 20);
    EXPECT_STREQ(SpecialFolders[21].name, "CSIDL_WINDOWS");
    EXPECT_EQ(SpecialFolders[21].csidl, 36);
    EXPECT_STREQ(SpecialFolders[17].name, "CSIDL_PROGRAMS");
    EXPECT_EQ(SpecialFolders[17].csidl, 2);
}

TEST(SpecialFolders, NamesNotInTable) {
    for (const char* name : {"CSIDL_NOPE", "CSIDL_FONTS ", " CSIDL_FONTS", "CSIDL_FONTSX",
                             "CSIDL_INTERNET", "csidl_", ""})
        EXPECT_EQ(SpecialFolderPath(name), nullptr) << name;
}

}  // namespace

// Under Wine the folders come from the real shell of a fresh prefix.
TEST(SpecialFolders, RealShellSuppliesApplicationData) {
    if (!zt::RealShell()) GTEST_SKIP() << "the stand-in's folders are covered natively";
    char* path = SpecialFolderPath("csidl_AppData");
    ASSERT_NE(path, (char*)NULL);
    EXPECT_NE(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(std::string(path).find("AppData"), std::string::npos) << path;
    EXPECT_EQ(SpecialFolderPath("CSIDL_NETHOOD"), (char*)NULL);  // a real folder outside the table
    EXPECT_EQ(SpecialFolderPath(" CSIDL_APPDATA"), (char*)NULL);
}
