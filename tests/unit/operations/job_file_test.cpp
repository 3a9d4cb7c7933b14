#include "operations/job_file.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "platform/sha256.h"

namespace koru {
namespace {

Job SampleJob() {
    Job job;
    job.name = "line A";
    job.description = "主板 固件";
    job.madeBy = "engineer";
    job.madeAt = "2026-12-08T10:00:00.000+00:00";
    job.sourceName = "/work/fw.hex";
    job.sourceSize = 1234;
    job.sourceSha256 = std::string(64, 'a');
    job.otp = false;
    job.start = 0x100;
    job.end = 0x13F;
    job.steps = kAutoVerify | kAutoEraseMtp;
    for (std::uint32_t i = 0; i <= job.end - job.start; ++i) {
        job.image.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    }
    return job;
}

std::string Sha256Of(const std::string& text) {
    Sha256 digest;
    digest.Add(text);
    return digest.Finish().value_or("");
}

// What is written is read back whole, with the checksum the header promises: the SHA-256 of
// dump() of the document without its checksum member.
TEST(JobFileTest, ADocumentReadsBackAsTheSameJobUnderTheDocumentedChecksum) {
    Job job = SampleJob();
    job.serial = JobSerial{"sn", 0x130, 4};
    job.quota = 500;
    const std::optional<std::string> text = JobDocument(job);
    ASSERT_TRUE(text);
    const JobLoad load = ParseJob(*text);
    ASSERT_TRUE(load.job) << load.reason;
    EXPECT_EQ(JobDocument(*load.job), text);

    nlohmann::json document = nlohmann::json::parse(*text);
    const std::string stored = document["checksum"];
    document.erase("checksum");
    EXPECT_EQ(Sha256Of(document.dump()), stored);
    EXPECT_EQ(load.checksum, stored);
    EXPECT_EQ(JobChecksum(job), stored);
}

// The image checksum is the window's 16-bit sum, with the serial job's bytes left out.
TEST(JobFileTest, TheImageChecksumLeavesTheSerialBytesOut) {
    Job job = SampleJob();
    const std::uint16_t whole = SumOfBytes(job.image.data(), job.image.size());
    EXPECT_EQ(JobImageChecksum(job), whole);
    job.serial = JobSerial{"sn", 0x13C, 4};  // the last four bytes
    EXPECT_EQ(JobImageChecksum(job), SumOfBytes(job.image.data(), job.image.size() - 4));
    job.image[0x3D] ^= 0xFF;  // a byte the serial job writes: the sum stays
    EXPECT_EQ(JobImageChecksum(job), SumOfBytes(job.image.data(), job.image.size() - 4));
    const std::uint16_t before = JobImageChecksum(job);
    job.image[0x00] ^= 0x01;  // a byte of the code: the sum follows it
    EXPECT_NE(JobImageChecksum(job), before);
}

// Every setting takes part in the checksum, the lock among them.
TEST(JobFileTest, EverySettingAndTheLockChangeTheChecksum) {
    const Job base = SampleJob();
    const std::string checksum = JobChecksum(base).value_or("");
    ASSERT_EQ(checksum.size(), 64u);
    const std::function<void(Job&)> changes[] = {
        [](Job& j) { j.image[5] ^= 1; },
        [](Job& j) { j.otp = true; },
        [](Job& j) { j.steps |= kAutoSmart; },
        [](Job& j) { j.fast = false; },
        [](Job& j) { j.quota = 1; },
        [](Job& j) {
            j.serial = JobSerial{"sn", 0x100, 1};
        },
        [](Job& j) { j.description += "."; },
        [](Job& j) { j.sourceSha256[0] = 'b'; },
        [](Job& j) {
            j.start = 0x101;
            j.image.erase(j.image.begin());
        },
        [](Job& j) { ASSERT_TRUE(LockJob(j, "pw")); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        Job changed = base;
        changes[i](changed);
        EXPECT_NE(JobChecksum(changed), checksum) << "change " << i;
    }
}

TEST(JobFileTest, ALockOpensWithItsPasswordOnly) {
    Job job = SampleJob();
    EXPECT_FALSE(JobLockOpens(job, ""));
    ASSERT_TRUE(LockJob(job, "geheim 密码"));
    EXPECT_EQ(job.lock->iterations, kJobLockIterations);
    const JobLoad load = ParseJob(JobDocument(job).value_or(""));
    ASSERT_TRUE(load.job) << load.reason;
    EXPECT_TRUE(JobLockOpens(*load.job, "geheim 密码"));
    EXPECT_FALSE(JobLockOpens(*load.job, "geheim 密"));
    EXPECT_FALSE(JobLockOpens(*load.job, ""));
    Job again = SampleJob();
    ASSERT_TRUE(LockJob(again, "geheim 密码"));
    EXPECT_NE(again.lock->salt, job.lock->salt);  // a fresh salt each time
}

// Damaged or foreign documents are refused whole, each with its fault.
TEST(JobFileTest, DamagedDocumentsAreRefusedWithTheirFault) {
    Job job = SampleJob();
    job.serial = JobSerial{"sn", 0x130, 4};
    const nlohmann::json good = nlohmann::json::parse(JobDocument(job).value_or("{}"));
    const auto with = [&](const std::function<void(nlohmann::json&)>& change) {
        nlohmann::json copy = good;
        change(copy);
        return copy.dump();
    };
    const struct {
        std::string text;
        JobFault fault;
    } cases[] = {
        {"", JobFault::NotJson},
        {"[1,2]", JobFault::NotAJob},
        {with([](auto& d) { d["format"] = "other"; }), JobFault::NotAJob},
        {with([](auto& d) { d["version"] = 2; }), JobFault::UnknownVersion},
        {with([](auto& d) { d.erase("version"); }), JobFault::BadField},
        {with([](auto& d) { d.erase("range"); }), JobFault::BadField},
        {with([](auto& d) { d["range"]["end"] = "FFFFFFFF"; }), JobFault::BadField},
        {with([](auto& d) { d["range"]["end"] = "0013E"; }), JobFault::ImageDigest},
        {with([](auto& d) { d["image"]["hex"][0] = "0"; }), JobFault::BadField},
        {with([](auto& d) { d["image"]["hex"][0] = std::string(64, '0'); }), JobFault::ImageDigest},
        {with([](auto& d) { d["image"]["checksum"] = "0000"; }), JobFault::ImageDigest},
        {with([](auto& d) { d["serial"]["at"] = "0013E"; }), JobFault::BadField},
        {with([](auto& d) { d["steps"].push_back("format-disk"); }), JobFault::BadField},
        {with([](auto& d) { d["quota"] = -1; }), JobFault::BadField},
        {with([](auto& d) {
             d["lock"] = {{"kind", "pbkdf2-hmac-sha256"},
                          {"salt", "00"},
                          {"iterations", 4000000000u},
                          {"hash", std::string(64, '0')}};
         }),
         JobFault::BadField},
        {with([](auto& d) { d["name"] = "other"; }), JobFault::ChecksumDiffers},
        {with([](auto& d) { d["checksum"] = std::string(64, '0'); }), JobFault::ChecksumDiffers},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const JobLoad load = ParseJob(cases[i].text);
        EXPECT_FALSE(load.job) << "case " << i;
        EXPECT_EQ(load.fault, cases[i].fault) << "case " << i << ": " << load.reason;
        EXPECT_FALSE(load.reason.empty());
    }
    EXPECT_TRUE(ParseJob(good.dump()).job);  // the unchanged document, written compactly
}

// A lot's name is typed by people and becomes a file name: what is not text is refused, and the
// file name keeps the name readable but can never leave the folder or hide a character.
TEST(JobFileTest, LotNamesAreTextAndTheirReportFileStaysInItsFolder) {
    EXPECT_EQ(DefaultLotName("BOARD-A", "2026-12-08"), "BOARD-A 2026-12-08");
    EXPECT_EQ(LotNameProblem("BOARD-A 2026-12-08"), "");
    EXPECT_EQ(LotNameProblem("批次 W49"), "");
    EXPECT_NE(LotNameProblem(""), "");
    EXPECT_NE(LotNameProblem(std::string(101, 'x')), "");
    EXPECT_EQ(LotNameProblem(std::string(100, 'x')), "");
    EXPECT_NE(LotNameProblem("a\nb"), "");
    EXPECT_NE(LotNameProblem("a\x7f"), "");
    EXPECT_NE(LotNameProblem("\xff\xfe"), "");  // not UTF-8

    EXPECT_EQ(LotReportFileName("BOARD-A 2026-12-08"), "lot-BOARD-A_2026-12-08.html");
    EXPECT_EQ(LotReportFileName("../../etc/passwd"), "lot-.._.._etc_passwd.html");
    EXPECT_EQ(LotReportFileName("a\\b:c*?\"<>|"), "lot-a_b_c______.html");
    EXPECT_EQ(LotReportFileName("批次"), "lot-批次.html");
}

}  // namespace
}  // namespace koru
