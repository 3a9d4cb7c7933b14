// Where production records go and what a written record looks like on disk.

#include "operations/production_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ProductionLogTest, TheDayFileFollowsTheStateFolder) {
    const struct {
        const char* state;
        const char* folder;
    } cases[] = {
        {"/srv/line3", "/srv/line3/lumatrix/production"},
        {nullptr, "/home/op/.local/state/lumatrix/production"},
        {"", "/home/op/.local/state/lumatrix/production"},
        {"relative/state", "/home/op/.local/state/lumatrix/production"},  // ignored
    };
    ScopedVariable home("HOME", "/home/op");
    for (const auto& entry : cases) {
        ScopedVariable state("XDG_STATE_HOME", entry.state);
        EXPECT_EQ(DefaultProductionFolder(), entry.folder) << (entry.state ? entry.state : "unset");
    }
    EXPECT_EQ(ProductionDayFile("/srv/p", "2026-12-07"), "/srv/p/2026-12-07.jsonl");
}

// Records are appended, one compact line each; a name that is not UTF-8 still gives a valid
// line instead of a lost record.
TEST(ProductionLogTest, RecordsAppendAsOneParsableLineEach) {
    test::TempDir dir;
    const std::string path = dir.Path("log.jsonl");
    ProductionLog log(path);
    std::string error;
    ASSERT_TRUE(log.Check(error)) << error;
    const nlohmann::json records[] = {
        {{"passed", true}, {"status", "自动编程已成功完成"}},
        {{"passed", false}, {"file", {{"path", std::string("/old/\xC3\x28name.hex")}}}},
        {{"passed", true}, {"steps", {"program", "verify"}}},
    };
    for (const nlohmann::json& record : records) {
        ASSERT_TRUE(log.Write(record, std::chrono::system_clock::now(), error)) << error;
    }
    EXPECT_EQ(log.PathFor(std::chrono::system_clock::now()), path);
    std::istringstream lines(test::ReadWholeFile(path));
    std::string line;
    std::size_t count = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(count, std::size(records));
        const nlohmann::json back = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(back.is_discarded()) << line;
        EXPECT_EQ(back["passed"], records[count]["passed"]);
        ++count;
    }
    EXPECT_EQ(count, std::size(records));

    ProductionLog unwritable(dir.Path(""));  // a folder is no file
    EXPECT_FALSE(unwritable.Check(error));
    EXPECT_FALSE(unwritable.Write(records[0], std::chrono::system_clock::now(), error));
}

}  // namespace
}  // namespace koru
