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

namespace koru {
namespace {

// Intel HEX text of data from address 0, 16 bytes per record, with an end-of-file record.
std::string HexFileOf(const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, data.size() - at);
        std::uint32_t sum = count + (at >> 8) + (at & 0xFF);
        std::string line = ":" + Hex(count, 2) + Hex(at, 4) + "00";
        for (std::size_t i = 0; i < count; ++i) {
            line += Hex(data[at + i], 2);
            sum += data[at + i];
        }
        text += line + Hex((0x100 - (sum & 0xFF)) & 0xFF, 2) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

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
    std::ofstream(path_, std::ios::binary) << HexFileOf(code);
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
