#include "operations/auto_program.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/code_loader.h"
#include "image/memory_view.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "operations/chip_serial.h"
#include "operations/link_faults.h"
#include "operations/one_shot.h"
#include "operations/production_record.h"
#include "operations/runner.h"
#include "tests/integration/support/simulator_fixture.h"
#include "tests/support/recording_buzzer.h"

namespace koru {
namespace {

using Tone = test::RecordingBuzzer::Tone;

class AutoProgramTest : public test::SimulatorTest {
  protected:
    AutoProgramTest() {
        Connect();
        for (std::uint32_t a = 0; a < 0x100; ++a) {
            ProgramMemory[a] = static_cast<std::uint8_t>(a);
        }
        StartAddress = 0;
        EndAddress = 0xFF;
        window_.SetField(TextField::Checksum, Hex(SumImageRange(0, 0xFF), 4));
        sim_.ClearRecords();
    }

    void Tick(std::initializer_list<Choice> options) {
        for (Choice option : options) {
            window_.SetChoice(option, true, window_.GetChoice(option).available);
        }
    }

    // The codes of the exchanges the run opened, in order.
    std::vector<int> Codes() {
        std::vector<int> codes;
        for (const auto& exchange : sim_.Exchanges()) {
            codes.push_back(exchange.Code());
        }
        return codes;
    }

    test::RecordingBuzzer buzzer_;
};

TEST_F(AutoProgramTest, WithNoOptionItProgramsAndSucceeds) {
    RunAndWait(kAutoProgram);
    EXPECT_EQ(Codes(), std::vector<int>{kProgramChip});
    EXPECT_EQ(window_.StatusLine(), kAutoProgramDoneText);
    EXPECT_EQ(window_.Field(TextField::SuccessCount), "000001");
    EXPECT_EQ(SuccessCount, 1u);
    EXPECT_EQ(FailureCount, 0u);
    EXPECT_EQ(AutoRunFlag, 0);
    EXPECT_EQ(BusyFlag, 0);
    EXPECT_EQ(window_.LockCalls(), std::vector<bool>{false});  // once, at the very end
}

TEST_F(AutoProgramTest, RunsTheTickedStepsInTheirOrder) {
    Tick({Choice::AutoBlankCheck, Choice::AutoEraseMtp, Choice::AutoVerify, Choice::AutoSmart,
          Choice::AutoLdcProtect, Choice::AutoReadProtect, Choice::AutoHwProtect});
    RunAndWait(kAutoProgram);
    const std::vector<int> expected{kBlankCheck,  kEraseMtp,   kProgramChip, kChipChecksum,
                                    kEnableSmart, kLdcProtect, kReadProtect, kHwWriteProtect};
    EXPECT_EQ(Codes(), expected);
    EXPECT_EQ(window_.StatusLine(), kAutoProgramDoneText);
    EXPECT_EQ(sim_.Chip().protection.read, true);
    EXPECT_EQ(sim_.Chip().protection.hardwareWrite, true);
}

TEST_F(AutoProgramTest, OnOtpChipsEraseSmartAndHardwareProtectionNeverRun) {
    Tick({Choice::AutoEraseMtp, Choice::AutoSmart, Choice::AutoHwProtect, Choice::AutoLdcProtect,
          Choice::AutoReadProtect});
    SelectOtp();
    sim_.SetChip(device::ChipKind::Otp, 0x2000);
    AutoFunc = kFuncLockedProduction;  // would force SMART on an MTP chip
    RunAndWait(kAutoProgram);
    // LDC protection is an MTP-only box: unavailable with OTP, so it does not run either.
    EXPECT_EQ(Codes(), (std::vector<int>{kProgramChip, kReadProtect}));
}

TEST_F(AutoProgramTest, LockedProductionForcesReadProtection) {
    AutoFunc = kFuncLockedProduction;
    RunAndWait(kAutoProgram);
    EXPECT_EQ(Codes(), (std::vector<int>{kProgramChip, kEnableSmart, kReadProtect}));
}

TEST_F(AutoProgramTest, StopsAtTheFirstFailingStepAndCountsAFailedChip) {
    Tick({Choice::AutoBlankCheck, Choice::AutoVerify});
    sim_.WriteChip(0x10, {0x00});  // not blank
    RunAndWait(kAutoProgram);
    EXPECT_EQ(Codes(), std::vector<int>{kBlankCheck});
    EXPECT_EQ(window_.StatusLine(), "芯片不空, 在地址: 00010");
    EXPECT_EQ(window_.Field(TextField::FailureCount), "00001");
    EXPECT_EQ(FailureCount, 1u);
    EXPECT_EQ(SuccessCount, 0u);
}

TEST_F(AutoProgramTest, ALinkFailureLeavesBothCountersUnchanged) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::InsteadOfAnswer;
    sim_.Script(kProgramChip, silent);
    RunAndWait(kAutoProgram);
    EXPECT_EQ(window_.StatusLine(), kLinkBusyText);
    EXPECT_EQ(FailureCount, 0u);
    EXPECT_EQ(SuccessCount, 0u);
    EXPECT_EQ(window_.Field(TextField::FailureCount), "");
}

// The programmer vanishes at a step: the run ends with the lost-link text in the failure
// colour, whatever the step would have made of the silence, and neither counter moves.
TEST_F(AutoProgramTest, ALostPortShowsTheLinkTextAndCountsNothing) {
    Tick({Choice::AutoBlankCheck, Choice::AutoVerify});
    struct Case {
        std::uint8_t code;
        device::Silence from;
        std::optional<std::uint32_t> afterReport;
    };
    const Case cases[] = {
        {kBlankCheck, device::Silence::Never, 0x7F},
        {kProgramChip, device::Silence::AfterStatus, {}},
        {kChipChecksum, device::Silence::AfterAnswer, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.code));
        // A fresh line each time, as when the adapter is plugged back in.
        sim_.Stop();
        sim_.ClearScripts();
        ASSERT_TRUE(sim_.Start());
        sim_.SetChip(device::ChipKind::Mtp, 0x2000);
        setenv("KORU_COM1", sim_.SlavePath().c_str(), 1);
        Connect();
        device::CommandScript vanish;
        vanish.silentFrom = c.from;
        vanish.silentAfterReport = c.afterReport;
        vanish.hangUpWhenSilent = true;
        sim_.Script(c.code, vanish);
        window_.ClearRecords();
        RunAndWait(kAutoProgram);
        EXPECT_EQ(window_.StatusLine(), kLinkLostText);
        EXPECT_EQ(window_.StatusFailureFlags().back(), 1);
        EXPECT_EQ(LastOutcome().kind, OutcomeKind::LinkLost);
        EXPECT_EQ(FailureCount, 0u);
        EXPECT_EQ(SuccessCount, 0u);
        EXPECT_EQ(window_.Field(TextField::FailureCount), "");
    }
}

TEST_F(AutoProgramTest, ASupplyFaultCountsAsAFailedChip) {
    Tick({Choice::AutoReadProtect});
    device::CommandScript fault;
    fault.firstStatus = "EV";
    sim_.Script(kReadProtect, fault);
    RunAndWait(kAutoProgram);
    EXPECT_EQ(window_.StatusLine(), kSupplyFaultStatus);
    EXPECT_EQ(FailureCount, 1u);
}

TEST_F(AutoProgramTest, VerifyStepComparesTheChipWithTheImage) {
    Tick({Choice::AutoVerify});
    sim_.WriteChip(0x20, {0x00});  // programming can only clear bits: the chip then differs
    RunAndWait(kAutoProgram);
    EXPECT_EQ(window_.StatusLine(), "编程失败,校验芯片错误!");
    EXPECT_EQ(FailureCount, 1u);
}

TEST_F(AutoProgramTest, PausedCountingChangesNeitherCounter) {
    AutoFunc = kFuncCountingPaused;
    RunAndWait(kAutoProgram);
    EXPECT_EQ(window_.StatusLine(), kAutoProgramDoneText);
    EXPECT_EQ(SuccessCount, 0u);
    EXPECT_EQ(window_.Field(TextField::SuccessCount), "");
}

TEST_F(AutoProgramTest, BeepsTwiceOnSuccessAndFiveTimesOnFailureWithTheBuzzerOn) {
    RunAndWait(kAutoProgram);
    EXPECT_TRUE(buzzer_.Tones().empty());

    AutoFunc = kFuncBuzzerOn;
    RunAndWait(kAutoProgram);
    EXPECT_EQ(buzzer_.Tones(), (std::vector<Tone>{{1000, 100}, {1000, 500}}));

    device::CommandScript refuse;
    refuse.finalReply = "NO";
    sim_.Script(kProgramChip, refuse);
    RunAndWait(kAutoProgram);
    const auto tones = buzzer_.Tones();
    ASSERT_EQ(tones.size(), 7u);
    EXPECT_EQ(std::vector<Tone>(tones.begin() + 2, tones.end()), std::vector<Tone>(5, {1000, 100}));
}

}  // namespace
}  // namespace koru

namespace koru {
namespace {

// Every run's end reports what ran and how it ended, and the production record built from it
// names the port, chip, range, image checksum, steps, failing step and counters, and whether
// the image still holds the loaded file. Counters and kind tell one story: only a verdict on
// the chip counts it as failed.
TEST_F(AutoProgramTest, EachRunEndsWithTheRecordOfItsChip) {
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("koru-record-" + std::to_string(getpid()) + ".bin"))
                                 .string();
    {
        std::ofstream out(file, std::ios::binary);
        for (int a = 0; a < 0x100; ++a) {
            out.put(static_cast<char>(a));
        }
    }
    window_.SetField(TextField::CodeFileName, file);
    LoadCodeFile();
    std::filesystem::remove(file);
    ASSERT_EQ(FailureFlag, 0) << window_.StatusLine();

    std::vector<nlohmann::json> records;
    std::vector<std::string> imageSums;  // the image's own sum as each run ended
    SetAutoRunObserver([&](const AutoRunReport& report) {
        EXPECT_EQ(AutoRunFlag, 1);  // still inside the run: the next one cannot have started
        records.push_back(ProductionRecord(report));
        imageSums.push_back(Hex(SumImageRange(0, 0xFF), 4));
    });
    Tick({Choice::AutoVerify});
    const struct {
        std::function<void()> setUp;
        std::vector<std::string> steps;
        bool passed;
        const char* failedStep;
        const char* kind;
        int success, failure;
        bool imageChanged;
    } runs[] = {
        {[] {}, {"program", "verify"}, true, nullptr, "success", 1, 0, false},
        {[this] { sim_.WriteChip(0x20, {0x00}); },
         {"program", "verify"},
         false,
         "verify",
         "chip-failed",
         1,
         1,
         false},
        {[this] {
             device::CommandScript silent;
             silent.silentFrom = device::Silence::InsteadOfAnswer;
             sim_.Script(kProgramChip, silent);
         },
         {"program"},
         false,
         "program",
         "no-answer",
         1,
         1,
         false},
        // Silent after the data phase: the checksum warning and text, but no verdict on the chip.
        {[this] {
             device::CommandScript silent;
             silent.silentFrom = device::Silence::AfterStatus;
             sim_.Script(kProgramChip, silent);
         },
         {"program"},
         false,
         "program",
         "no-answer",
         1,
         1,
         false},
        // A cell edited after the load (a bit cleared, which the chip can take).
        {[this] {
             sim_.ClearScripts();
             sim_.SetChip(device::ChipKind::Mtp, 0x2000);
             ASSERT_TRUE(StoreMemoryCell("00010", "00"));
             window_.SetField(TextField::Checksum, Hex(SumImageRange(0, 0xFF), 4));
         },
         {"program", "verify"},
         true,
         nullptr,
         "success",
         2,
         1,
         true},
    };
    for (const auto& run : runs) {
        run.setUp();
        RunAndWait(kAutoProgram);
    }
    SetAutoRunObserver({});
    ASSERT_EQ(records.size(), std::size(runs));
    for (std::size_t i = 0; i < records.size(); ++i) {
        const nlohmann::json& record = records[i];
        SCOPED_TRACE(record.dump());
        const nlohmann::json failedStep =
            runs[i].failedStep ? nlohmann::json(runs[i].failedStep) : nlohmann::json();
        EXPECT_EQ(record["steps"], nlohmann::json(runs[i].steps));
        EXPECT_EQ(record["passed"], runs[i].passed);
        EXPECT_EQ(record["failed_step"], failedStep);
        EXPECT_EQ(record["outcome"]["kind"], runs[i].kind);
        EXPECT_EQ(record["outcome"]["step"], failedStep);  // null for a chip that passed
        EXPECT_EQ(record["counters"]["success"], runs[i].success);
        EXPECT_EQ(record["counters"]["failure"], runs[i].failure);
        EXPECT_EQ(record["file"]["image_changed_since_load"], runs[i].imageChanged);
        EXPECT_EQ(record["port"], "COM1");
        EXPECT_EQ(record["device"], sim_.SlavePath());
        EXPECT_EQ(record["chip"], "mtp");
        EXPECT_EQ(record["range"]["end"], "000FF");
        EXPECT_EQ(record["image_checksum"], imageSums[i]);
        EXPECT_GE(record["duration_ms"].get<int>(), 0);
    }
}

// A serial value is marked as on its way to the chip before the program step opens, after
// the steps before it; when that cannot be made sure the chip is refused there, nothing of the
// program step goes out, and the value goes back (not spent).
TEST_F(AutoProgramTest, ASerialValueIsMarkedSendingBeforeTheProgramStepOrTheChipIsRefused) {
    struct Source final : ChipSerialSource {
        explicit Source(device::Simulator& simulator) : sim(simulator) {}
        ChipSerialGrant Reserve() override {
            return {true, false, {"SN", 0x10, {0xA1, 0xB2}, "A1B2"}, {}};
        }
        bool StartSending(const ChipSerialValue& value, std::string& refusal) override {
            codesWhenSending = sim.Exchanges().size();
            sendingLabel = value.label;
            refusal = "the line database is gone";
            return allow;
        }
        void Finish(const ChipSerialValue&, bool wasSpent, const Outcome&) override {
            finished = true;
            spent = wasSpent;
        }
        device::Simulator& sim;
        bool allow = true;
        std::size_t codesWhenSending = 99;
        std::string sendingLabel;
        bool finished = false, spent = false;
    };
    auto source = std::make_shared<Source>(sim_);
    SetChipSerialSource(source);
    std::vector<nlohmann::json> records;
    SetAutoRunObserver(
        [&records](const AutoRunReport& report) { records.push_back(ProductionRecord(report)); });
    const std::string loadedSum = Hex(SumImageRange(0, 0xFF), 4);
    Tick({Choice::AutoBlankCheck});
    RunAndWait(kAutoProgram);
    // The record names the loaded image's checksum and, beside it, the stamped chip's.
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["image_checksum"], loadedSum);
    std::uint16_t stamped = 0;
    for (std::uint32_t a = 0; a <= 0xFF; ++a) {
        stamped = static_cast<std::uint16_t>(stamped + (a == 0x10 ? 0xA1 : a == 0x11 ? 0xB2 : a));
    }
    EXPECT_EQ(records[0]["chip_checksum"], Hex(stamped, 4));
    EXPECT_EQ(records[0]["serial"]["value"], "A1B2");
    EXPECT_EQ(Codes(), (std::vector<int>{kBlankCheck, kProgramChip}));
    EXPECT_EQ(source->codesWhenSending, 1u);  // after the blank check, before the program step
    EXPECT_EQ(source->sendingLabel, "A1B2");
    EXPECT_TRUE(source->finished && source->spent);
    EXPECT_EQ(sim_.ChipContents()[0x10], 0xA1);

    sim_.SetChip(device::ChipKind::Mtp, 0x2000);
    sim_.ClearRecords();
    source->allow = false;
    source->finished = source->spent = false;
    RunAndWait(kAutoProgram);
    SetChipSerialSource(nullptr);
    SetAutoRunObserver({});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[1].contains("serial"));
    EXPECT_FALSE(records[1].contains("chip_checksum"));
    EXPECT_EQ(Codes(), std::vector<int>{kBlankCheck});
    EXPECT_EQ(window_.StatusLine(), "the line database is gone");
    EXPECT_EQ(LastOutcome().kind, OutcomeKind::Refused);
    EXPECT_TRUE(source->finished);
    EXPECT_FALSE(source->spent);
    EXPECT_EQ(sim_.ChipContents()[0x10], 0xFF);
}

}  // namespace
}  // namespace koru
