#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace koru {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
  protected:
    SettingsStoreTest() {
        char pattern[] = "/tmp/koru-settings-XXXXXX";
        folder_ = mkdtemp(pattern);
        path_ = folder_ + "/lumatrix/settings.reg";
    }
    ~SettingsStoreTest() override { fs::remove_all(folder_); }

    void WriteFile(const std::string& text) {
        fs::create_directories(fs::path(path_).parent_path());
        std::ofstream(path_, std::ios::binary) << text;
    }

    std::string folder_;
    std::string path_;
};

TEST_F(SettingsStoreTest, ValuesComeBackWithTheirTypes) {
    SettingsStore out(path_);
    out.SetString("com", "com1");
    out.SetString("odd", "a\"b\\c");
    out.SetNumber("auto", 0x79);
    out.SetNumber("big", 0xFFFFFFFF);
    ASSERT_TRUE(out.Save());

    SettingsStore in(path_);
    ASSERT_TRUE(in.Load());
    EXPECT_EQ(in.GetString("com"), "com1");
    EXPECT_EQ(in.GetString("odd"), "a\"b\\c");
    EXPECT_EQ(in.GetNumber("auto"), 0x79u);
    EXPECT_EQ(in.GetNumber("big"), 0xFFFFFFFFu);
    // The other type, or a missing name, reads as nothing.
    EXPECT_EQ(in.GetNumber("com"), std::nullopt);
    EXPECT_EQ(in.GetString("auto"), std::nullopt);
    EXPECT_EQ(in.GetString("chip"), std::nullopt);
}

TEST_F(SettingsStoreTest, TheFileReadsLikeARegistryExport) {
    SettingsStore out(path_);
    out.SetString("com", "com2");
    out.SetNumber("autofunc", 0x21);
    ASSERT_TRUE(out.Save());
    std::ifstream file(path_);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text,
              "[HKEY_CURRENT_USER\\Software\\lumatrix]\n"
              "\"autofunc\"=dword:00000021\n"
              "\"com\"=\"com2\"\n");
}

TEST_F(SettingsStoreTest, MissingOrCorruptFilesReadAsAnEmptyKey) {
    SettingsStore store(path_);
    EXPECT_FALSE(store.Load());
    EXPECT_EQ(store.GetString("com"), std::nullopt);

    for (const char* corrupt : {
             "",
             "\"com\"=\"com1\"\n",                                            // no key line
             "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"com\"=\"com1\n",     // cut short
             "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"auto\"=dword:79\n",  // short number
             "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"auto\"=dword:0000007g\n",
             "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"com\"=\"com1\"\n\x01\xff garbage\n",
         }) {
        WriteFile(corrupt);
        SettingsStore damaged(path_);
        EXPECT_FALSE(damaged.Load()) << corrupt;
        EXPECT_EQ(damaged.GetString("com"), std::nullopt) << corrupt;
        EXPECT_EQ(damaged.GetNumber("auto"), std::nullopt) << corrupt;
    }
}

TEST_F(SettingsStoreTest, CrLfFilesAndUpperCaseNumbersAreRead) {
    WriteFile("[HKEY_CURRENT_USER\\Software\\lumatrix]\r\n\"auto\"=dword:0000007F\r\n");
    SettingsStore store(path_);
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(store.GetNumber("auto"), 0x7Fu);
}

TEST_F(SettingsStoreTest, AFailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
    SettingsStore first(path_);
    first.SetString("com", "com3");
    ASSERT_TRUE(first.Save());

    // A file-size limit makes the write of the new file fail, for root as for anyone.
    SettingsStore second(path_);
    second.SetString("com", "com4");
    second.SetString("padding", std::string(200, 'x'));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 16;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = second.Save();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    SettingsStore check(path_);
    ASSERT_TRUE(check.Load());
    EXPECT_EQ(check.GetString("com"), "com3");
    const fs::path folder = fs::path(path_).parent_path();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(SettingsStoreTest, AFolderThatCannotBeMadeFailsTheSave) {
    WriteFile("");
    SettingsStore store(path_ + "/below-a-file/settings.reg");
    store.SetString("com", "com1");
    EXPECT_FALSE(store.Save());
}

TEST(SettingsStorePath, FollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_CONFIG_HOME", "/tmp/koru-xdg", 1);
    EXPECT_EQ(SettingsStore::PathForKey("lumatrix"), "/tmp/koru-xdg/lumatrix/settings.reg");
    if (old != nullptr) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace koru
