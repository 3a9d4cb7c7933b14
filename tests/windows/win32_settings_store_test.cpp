// The settings store in the registry: values come back with the type they were written with,
// a value of another type reads as missing, and saving keeps the key's other values.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/settings_store.h"

namespace koru {
namespace {

// A key of the test's own, removed before and after.
class Win32SettingsStore : public ::testing::Test {
  protected:
    const std::string keyPath_ = SettingsStore::PathForKey("koru-test-settings");
    void SetUp() override { ::RegDeleteKeyA(HKEY_CURRENT_USER, keyPath_.c_str()); }
    void TearDown() override { ::RegDeleteKeyA(HKEY_CURRENT_USER, keyPath_.c_str()); }
};

TEST_F(Win32SettingsStore, ValuesKeepTheirTypesAndOtherValuesStay) {
    EXPECT_EQ(keyPath_, "Software\\koru-test-settings");
    SettingsStore missing(keyPath_);
    EXPECT_FALSE(missing.Load());

    // A value written by someone else, with a type the store does not use.
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const BYTE binary[] = {1, 2, 3};
    ::RegSetValueExA(key, "foreign", 0, REG_BINARY, binary, sizeof binary);
    ::RegCloseKey(key);

    SettingsStore store(keyPath_);
    ASSERT_TRUE(store.Load());
    store.SetString("com", "com12");
    store.SetString("empty", "");
    store.SetNumber("auto", 0x79);
    store.SetNumber("max", 0xFFFFFFFFu);
    ASSERT_TRUE(store.Save());

    SettingsStore again(keyPath_);
    ASSERT_TRUE(again.Load());
    struct Expected {
        const char* name;
        std::optional<std::string> text;
        std::optional<std::uint32_t> number;
    };
    const Expected table[] = {
        {"com", "com12", std::nullopt},          {"empty", "", std::nullopt},
        {"auto", std::nullopt, 0x79u},           {"max", std::nullopt, 0xFFFFFFFFu},
        {"foreign", std::nullopt, std::nullopt}, {"absent", std::nullopt, std::nullopt},
    };
    for (const Expected& e : table) {
        EXPECT_EQ(again.GetString(e.name), e.text) << e.name;
        EXPECT_EQ(again.GetNumber(e.name), e.number) << e.name;
    }

    // The foreign value is still in the key after the save.
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, keyPath_.c_str(), "foreign", RRF_RT_ANY, &type,
                             nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
}

}  // namespace
}  // namespace koru
