// A whole production pass against the simulator, as an operator runs it: load an 8 KiB HEX
// file, take the buffer checksum, auto-program with blank check, erase, verify and the
// protections. The simulated chip then holds exactly the image over the range.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/auto_program.h"
#include "operations/runner.h"
#include "tests/integration/support/simulator_fixture.h"
#include "tests/support/hex_text.h"

namespace koru {
namespace {

class ProductionPassTest : public test::SimulatorTest {
  protected:
    ~ProductionPassTest() override { std::remove(path_.c_str()); }
    std::string path_ = "/tmp/koru-production-" + std::to_string(getpid()) + ".hex";
};

TEST_F(ProductionPassTest, TheChipEndsUpHoldingTheFile) {
    std::vector<std::uint8_t> code(0x2000);
    for (std::size_t i = 0; i < code.size(); ++i) {
        code[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 5));
    }
    std::ofstream(path_, std::ios::binary) << test::HexFileOf(code);
    sim_.SetChip(device::ChipKind::Mtp, 0x4000, 0x00);  // a used chip: erase must come first

    Connect();
    window_.SetField(TextField::CodeFileName, path_);
    RunAndWait(kLoadCodeFile);
    ASSERT_EQ(FailureFlag, 0) << window_.StatusLine();
    ASSERT_EQ(window_.Field(TextField::EndAddress), "1FFF");
    RunAndWait(kBufferChecksum);
    for (Choice option : {Choice::AutoEraseMtp, Choice::AutoBlankCheck, Choice::AutoVerify,
                          Choice::AutoReadProtect, Choice::AutoLdcProtect}) {
        window_.SetChoice(option, true);
    }
    // Blank check comes before the erase: on this used chip the run must stop there.
    RunAndWait(kAutoProgram);
    EXPECT_EQ(window_.StatusLine(), "芯片不空, 在地址: 00000");
    EXPECT_EQ(FailureCount, 1u);

    window_.SetChoice(Choice::AutoBlankCheck, false);
    RunAndWait(kAutoProgram);
    EXPECT_EQ(window_.StatusLine(), kAutoProgramDoneText);
    EXPECT_EQ(SuccessCount, 1u);

    const auto chip = sim_.ChipContents();
    ASSERT_GE(chip.size(), code.size());
    EXPECT_TRUE(std::equal(code.begin(), code.end(), chip.begin()));
    EXPECT_EQ(chip[0x2000], 0xFF);  // erased, and beyond the range nothing was written
    EXPECT_TRUE(sim_.Chip().protection.read);
    EXPECT_TRUE(sim_.Chip().protection.ldc);
}

}  // namespace
}  // namespace koru
