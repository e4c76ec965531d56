// The registry layer, in process: root choice and fallback, the remembered
// root, exact value bytes, and values at the edge of the buffer.
#include "harness.h"

using namespace zt;

class RegistryLayer : public Sandboxed {
  protected:
    void SetUp() override {
        Sandboxed::SetUp();
        key = EntryKey(product);
        CurrentRoot = HKEY_LOCAL_MACHINE;
        TestMode = 0;
    }
    void TearDown() override {
        TestMode = 0;
        Sandboxed::TearDown();
    }
    std::string key;
};

TEST_F(RegistryLayer, WritesStringsWithoutTheirNulAndReadsThemBack) {
    HKEY k = NULL;
    ASSERT_EQ(KeyCreate(UninstallPrefix, product.c_str(), NULL, &k, 2), 1);
    EXPECT_EQ(std::string(KeyPath), key);
    EXPECT_EQ(ValueSet(k, "v", "abc"), 1);
    ExpectString(HKEY_LOCAL_MACHINE, key, "v", "abc");
    EXPECT_STREQ(ValueGet(k, "v"), "abc");
    KeyClose(&k);
    EXPECT_EQ(k, (HKEY)NULL);
}

TEST_F(RegistryLayer, ReadsValuesWithAndWithoutTheirOwnNulAndOfAnyType) {
    WriteValue(HKEY_LOCAL_MACHINE, key, "with", REG_SZ, std::string("abc\0", 4));
    WriteValue(HKEY_LOCAL_MACHINE, key, "bin", REG_BINARY, "xyz");
    HKEY k = NULL;
    ASSERT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 0), 1);
    EXPECT_STREQ(ValueGet(k, "with"), "abc");
    EXPECT_STREQ(ValueGet(k, "bin"), "xyz");
    EXPECT_EQ(ValueGet(k, "absent"), (char*)NULL);
    KeyClose(&k);
}

TEST_F(RegistryLayer, ValuesAtTheEdgeOfTheBufferStayInside) {
    struct Case {
        std::string bytes;
        bool readable;
    } cases[] = {
        {std::string(1022, 'a'), true},
        {std::string(1023, 'b'), true},
        {std::string(1023, 'c') + '\0', true},
        {std::string(1024, 'd'), false},
        {std::string(1025, 'e'), false},
    };
    for (const auto& c : cases) {
        WriteValue(HKEY_LOCAL_MACHINE, key, "edge", REG_SZ, c.bytes);
        HKEY k = NULL;
        ASSERT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 2), 1);
        char* text = ValueGet(k, "edge");
        KeyClose(&k);
        // Where the platform adds a NUL, 1023 bytes still fit: the last byte is that NUL.
        bool readable = c.readable;
        if (readable) {
            ASSERT_NE(text, (char*)NULL) << c.bytes.size();
            EXPECT_EQ(std::string(text), c.bytes.substr(0, c.bytes.find('\0')));
        } else {
            EXPECT_EQ(text, (char*)NULL) << c.bytes.size();
        }
    }
}

TEST_F(RegistryLayer, FallsBackToTheUserAndRemembersTheRoot) {
    WriteValue(HKEY_CURRENT_USER, key, "v", REG_SZ, "user");
    HKEY k = NULL;
    ASSERT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 0), 1);
    EXPECT_EQ(CurrentRoot, HKEY_CURRENT_USER);
    EXPECT_STREQ(ValueGet(k, "v"), "user");
    KeyClose(&k);
    EXPECT_EQ(KeyDelete(NULL), 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
}

TEST_F(RegistryLayer, PrefersTheMachineWhenBothRootsHoldTheKey) {
    WriteValue(HKEY_CURRENT_USER, key, "v", REG_SZ, "user");
    WriteValue(HKEY_LOCAL_MACHINE, key, "v", REG_SZ, "machine");
    HKEY k = NULL;
    ASSERT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 0), 1);
    EXPECT_EQ(CurrentRoot, HKEY_LOCAL_MACHINE);
    EXPECT_STREQ(ValueGet(k, "v"), "machine");
    KeyClose(&k);
}

TEST_F(RegistryLayer, MissingKeysAndTheRootLeftBehind) {
    HKEY k = NULL;
    EXPECT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 0), 0);
    EXPECT_EQ(CurrentRoot, HKEY_CURRENT_USER);
    WriteValue(HKEY_CURRENT_USER, key, "v", REG_SZ, "user");
    EXPECT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 2), 0);
    EXPECT_EQ(CurrentRoot, HKEY_LOCAL_MACHINE);
}

TEST_F(RegistryLayer, OwnPathBufferLeavesKeyPathAlone) {
    CopyText(KeyPath, sizeof KeyPath, "untouched");
    char own[TextSize];
    HKEY k = NULL;
    ASSERT_EQ(KeyCreate(NULL, key.c_str(), own, &k, 2), 1);
    KeyClose(&k);
    EXPECT_STREQ(own, key.c_str());
    EXPECT_STREQ(KeyPath, "untouched");
}

TEST_F(RegistryLayer, PathsThatDoNotFitOpenNothing) {
    std::string longName(TextSize - strlen(UninstallPrefix), 'n');
    HKEY k = NULL;
    EXPECT_EQ(KeyCreate(UninstallPrefix, longName.c_str(), NULL, &k, 0), 0);
    EXPECT_EQ(k, (HKEY)NULL);
}

TEST_F(RegistryLayer, TestModeKeepsKeys) {
    WriteValue(HKEY_LOCAL_MACHINE, key, "v", REG_SZ, "x");
    HKEY k = NULL;
    ASSERT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 0), 1);
    KeyClose(&k);
    TestMode = 1;
    EXPECT_EQ(KeyDelete(NULL), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key));
    TestMode = 0;
    EXPECT_EQ(KeyDelete(NULL), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
}

TEST_F(RegistryLayer, RefusedMachineRightsFallBackToTheUser) {
    if (!CanRefuseMachineRights()) GTEST_SKIP() << "this platform does not enforce registry rights";
    WriteValue(HKEY_LOCAL_MACHINE, key, "v", REG_SZ, "machine");
    SetNonAdmin(true);
    HKEY k = NULL;
    // Readable but not writable under the machine: the user's key is tried.
    EXPECT_EQ(KeyOpen(UninstallPrefix, product.c_str(), NULL, &k, 0), 0);
    EXPECT_EQ(CurrentRoot, HKEY_CURRENT_USER);
    ASSERT_EQ(KeyCreate(UninstallPrefix, product.c_str(), NULL, &k, 0), 1);
    EXPECT_EQ(CurrentRoot, HKEY_CURRENT_USER);
    KeyClose(&k);
    EXPECT_EQ(KeyCreate(UninstallPrefix, product.c_str(), NULL, &k, 2), 0);
    SetNonAdmin(false);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key));
}

TEST(BoundedText, AlwaysTerminatesAndSaysWhetherItFitted) {
    char buf[4];
    EXPECT_EQ(FormatText(buf, sizeof buf, "%s", "abcdef"), 0);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(FormatText(buf, sizeof buf, "%d", 123), 1);
    EXPECT_STREQ(buf, "123");
    EXPECT_EQ(CopyText(buf, sizeof buf, "abcd"), 0);
    EXPECT_STREQ(buf, "abc");
    CopyText(buf, sizeof buf, "ab");
    EXPECT_EQ(AppendText(buf, sizeof buf, "cd"), 0);
    EXPECT_STREQ(buf, "abc");
    // A cut never leaves part of a UTF-8 character behind.
    EXPECT_EQ(CopyText(buf, sizeof buf, "a\xCE\xA9\xCE\xA9"), 0);
    EXPECT_STREQ(buf, "a\xCE\xA9");
    EXPECT_EQ(FormatText(buf, sizeof buf, "%s", "a\xE6\x97\xA5"), 0);
    EXPECT_STREQ(buf, "a");
    char path[8];
    EXPECT_EQ(JoinPath(path, sizeof path, "d", "n"), 1);
    EXPECT_EQ(std::string(path), std::string("d") + PATH_SEP + "n");
    EXPECT_EQ(JoinPath(path, sizeof path, "d/", "n"), 1);
    EXPECT_STREQ(path, "d/n");
    EXPECT_EQ(JoinPath(path, sizeof path, "dir", "name"), 0);
}
