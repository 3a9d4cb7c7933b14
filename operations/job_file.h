#pragma once

// A production job: what an engineer approved, in one readable JSON file (*.korujob). It holds
// the image for the job's range (so the code file on disk may change without changing the job),
// the code file's name, size and SHA-256, the chip kind, the range, the ticked steps, the serial
// job, the lot quota, who made it and when, and a checksum over all of it.
//
// The job checksum is the SHA-256 of the canonical form: the document's object without its
// "checksum" member, written by nlohmann::json's dump() with no indent (members in sorted order,
// no blanks, UTF-8 as it is). The lock is part of it, so removing or replacing a lock changes the
// checksum too. People see its first 8 hexadecimal digits.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koru {

inline constexpr char kJobFormat[] = "korujob";
inline constexpr int kJobVersion = 1;
inline constexpr std::size_t kJobShortChecksumDigits = 8;
// PBKDF2 rounds of a new lock: about 0.2 s on a line PC. A file may name up to the largest.
inline constexpr std::uint32_t kJobLockIterations = 300000;
inline constexpr std::uint32_t kJobLockLargestIterations = 10000000;

// One tick of the auto-programming steps: its name in the file and on koru-cli's command line
// (without the dashes), its mark in AutoOptions and the window's label.
struct JobStep {
    const char* name;
    std::uint32_t mark;
    const char* tick;
};
const std::vector<JobStep>& JobSteps();

// Where the serial job writes each chip's value; those bytes are left out of the image checksum.
struct JobSerial {
    std::string job;
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

struct JobLock {
    std::vector<std::uint8_t> salt;
    std::uint32_t iterations = 0;
    std::vector<std::uint8_t> hash;
};

struct Job {
    std::string name;
    std::string description;
    std::string madeBy;
    std::string madeAt;
    std::string sourceName;  // the code file as it was named
    std::uint64_t sourceSize = 0;
    std::string sourceSha256;
    bool otp = false;
    std::uint32_t start = 0, end = 0;  // inclusive; image holds end - start + 1 bytes
    std::uint32_t steps = 0;           // AutoOptions marks
    bool fast = true;
    std::vector<std::uint8_t> image;
    std::optional<JobSerial> serial;
    std::optional<std::uint64_t> quota;  // passed chips per lot
    std::optional<JobLock> lock;
};

// Why a job file was refused.
enum class JobFault {
    None,
    Unreadable,       // the file cannot be read
    NotJson,          // the text does not parse
    NotAJob,          // not a job document
    UnknownVersion,   // made by a newer program
    BadField,         // a member missing or of the wrong kind or value
    ImageDigest,      // the image does not match its own SHA-256 or 16-bit checksum
    ChecksumDiffers,  // the contents do not match the job checksum the file carries
};

struct JobLoad {
    std::optional<Job> job;  // only when fault is None: never half a job
    std::string checksum;    // the whole job checksum, 64 hexadecimal digits
    JobFault fault = JobFault::None;
    std::string reason;  // for people
};

// The job's document without its checksum member. Nothing when a text is not UTF-8.
std::optional<nlohmann::json> JobObject(const Job& job);

// The job checksum (64 lower-case hexadecimal digits); nothing when the job cannot be written
// (a text that is not UTF-8) or the library failed.
std::optional<std::string> JobChecksum(const Job& job);

// The file's text: the document with its checksum, indented; nothing as JobChecksum.
std::optional<std::string> JobDocument(const Job& job);

// The image's 16-bit checksum as the window shows it, the serial job's bytes left out.
std::uint16_t JobImageChecksum(const Job& job);

// Reads a job from its text or its file; refuses anything short of a whole, consistent job.
JobLoad ParseJob(std::string_view text);
JobLoad LoadJobFile(const std::string& path);

// Writes the document to path (a new file put in place whole). False with the reason.
bool SaveJobFile(const Job& job, const std::string& path, std::string& error);

// Locks the job with password: a random salt and kJobLockIterations rounds. False when the
// system's cryptography failed.
bool LockJob(Job& job, std::string_view password);

// Whether password opens the job's lock (false when the job has none).
bool JobLockOpens(const Job& job, std::string_view password);

// "自动校验 (verify), ..." for the steps marked in steps; "none" when there are none.
std::string JobStepsText(std::uint32_t steps);

// The job whose chips are being programmed now, for the production record: its name, whole
// checksum and lot. Set before the first chip of a run; none outside job runs.
struct JobStamp {
    std::string name;
    std::string checksum;
    std::string lot = {};  // the lot the chips are counted in; empty: none named
};

// What refuses a chip once its lot has its quota of passed chips.
inline constexpr char kLotCompleteText[] = "本批已完成";
// What refuses a chip while the lot's last places are held by chips under way.
inline constexpr char kLotFullText[] = "本批名额已满";

// The lot a run of job goes into when none is named: the job's name and the day
// ("BOARD-A 2026-12-08"); day: "YYYY-MM-DD".
std::string DefaultLotName(const std::string& jobName, const std::string& day);

// Why text cannot name a lot (empty, too long, a control character or not UTF-8); empty when
// it can.
std::string LotNameProblem(std::string_view text);

// The lot report's file name for lot: "lot-NAME.html", with every character of NAME that is
// not a letter, digit, '-', '.' or '_' (any byte past ASCII kept) replaced by '_'.
std::string LotReportFileName(const std::string& lot);
void SetRunningJob(std::optional<JobStamp> stamp);
std::optional<JobStamp> RunningJob();

}  // namespace koru
