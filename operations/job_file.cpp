#include "operations/job_file.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>

#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "platform/input_file.h"
#include "platform/key_derivation.h"
#include "platform/output_file.h"
#include "platform/sha256.h"

namespace koru {
namespace {

using nlohmann::json;

constexpr std::size_t kBytesPerImageLine = 32;
constexpr std::size_t kLockSaltBytes = 16;
constexpr std::size_t kLockHashBytes = 32;
constexpr std::uint8_t kAddressDigits = 5;
constexpr std::uint8_t kImageChecksumDigits = 4;
constexpr char kLockKind[] = "pbkdf2-hmac-sha256";
// A job file larger than the whole image written as hex lines with room to spare is no job.
constexpr std::uint64_t kLargestJobFile = 8ull * 1024 * 1024;
// A lot's name is a label on a work order and a file name, not a text.
constexpr std::size_t kLongestLotName = 100;

std::mutex runningMutex;
std::optional<JobStamp> running;

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Appends the bytes of hexadecimal text to out; false on an odd length or another character.
bool ReadHexBytes(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = DigitValue(text[i]);
        const int low = DigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

// An address or value of up to eight hexadecimal digits.
std::optional<std::uint32_t> ReadHexNumber(const std::string& text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = DigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::optional<std::string> Digest(std::string_view bytes) {
    Sha256 digest;
    digest.Add(bytes);
    return digest.Finish();
}

std::optional<std::string> ImageDigest(const std::vector<std::uint8_t>& image) {
    return Digest(std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

std::optional<std::string> Canonical(const json& object) {
    try {
        return object.dump();
    } catch (const json::exception&) {
        return std::nullopt;  // a text that is not UTF-8
    }
}

JobLoad Refuse(JobFault fault, std::string reason) {
    JobLoad load;
    load.fault = fault;
    load.reason = std::move(reason);
    return load;
}

// Reading the members: each getter throws a json::exception with a message naming the member
// when it is missing or of the wrong kind; ParseJob turns that into a refusal.
struct FieldError {
    std::string text;
};

const json& Member(const json& object, const char* name) {
    if (!object.is_object() || !object.contains(name)) {
        throw FieldError{std::string("\"") + name + "\" is missing"};
    }
    return object.at(name);
}

std::string Text(const json& object, const char* name) {
    const json& value = Member(object, name);
    if (!value.is_string()) {
        throw FieldError{std::string("\"") + name + "\" is not a text"};
    }
    return value.get<std::string>();
}

std::uint64_t Count(const json& object, const char* name) {
    const json& value = Member(object, name);
    if (!value.is_number_unsigned()) {
        throw FieldError{std::string("\"") + name + "\" is not a whole number"};
    }
    return value.get<std::uint64_t>();
}

std::uint32_t Address(const json& object, const char* name) {
    const std::optional<std::uint32_t> value = ReadHexNumber(Text(object, name));
    if (!value) {
        throw FieldError{std::string("\"") + name + "\" is not a hexadecimal address"};
    }
    return *value;
}

std::vector<std::uint8_t> Bytes(const json& object, const char* name) {
    std::vector<std::uint8_t> bytes;
    if (!ReadHexBytes(Text(object, name), bytes)) {
        throw FieldError{std::string("\"") + name + "\" is not hexadecimal bytes"};
    }
    return bytes;
}

Job ReadJob(const json& document) {
    Job job;
    job.name = Text(document, "name");
    job.description = Text(document, "description");
    job.madeBy = Text(document, "made_by");
    job.madeAt = Text(document, "made_at");
    const std::string chip = Text(document, "chip");
    if (chip != "otp" && chip != "mtp") {
        throw FieldError{"\"chip\" is neither otp nor mtp"};
    }
    job.otp = chip == "otp";
    const json& range = Member(document, "range");
    job.start = Address(range, "start");
    job.end = Address(range, "end");
    if (!RangeInImage(job.start, job.end)) {
        throw FieldError{"\"range\" is not a range inside the image"};
    }
    const json& steps = Member(document, "steps");
    if (!steps.is_array()) {
        throw FieldError{"\"steps\" is not a list"};
    }
    for (const json& step : steps) {
        const auto known =
            std::find_if(JobSteps().begin(), JobSteps().end(), [&](const JobStep& s) {
                return step.is_string() && step.get<std::string>() == s.name;
            });
        if (known == JobSteps().end()) {
            throw FieldError{"\"steps\" names an unknown step " + step.dump()};
        }
        job.steps |= known->mark;
    }
    const json& fast = Member(document, "fast");
    if (!fast.is_boolean()) {
        throw FieldError{"\"fast\" is neither true nor false"};
    }
    job.fast = fast.get<bool>();
    const json& serial = Member(document, "serial");
    if (!serial.is_null()) {
        JobSerial field;
        field.job = Text(serial, "job");
        field.address = Address(serial, "at");
        field.size =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(Count(serial, "size"), 0xFFFF));
        if (field.job.empty() || field.size == 0 || field.address < job.start ||
            field.address > job.end || job.end - field.address + 1 < field.size) {
            throw FieldError{"\"serial\" does not lie inside the range"};
        }
        job.serial = field;
    }
    const json& quota = Member(document, "quota");
    if (!quota.is_null()) {
        job.quota = Count(document, "quota");
    }
    const json& source = Member(document, "source");
    job.sourceName = Text(source, "name");
    job.sourceSize = Count(source, "size");
    job.sourceSha256 = Text(source, "sha256");
    const json& lock = Member(document, "lock");
    if (!lock.is_null()) {
        if (Text(lock, "kind") != kLockKind) {
            throw FieldError{"\"lock\" is of an unknown kind"};
        }
        JobLock read;
        read.salt = Bytes(lock, "salt");
        read.hash = Bytes(lock, "hash");
        const std::uint64_t iterations = Count(lock, "iterations");
        if (iterations == 0 || iterations > kJobLockLargestIterations || read.salt.empty() ||
            read.hash.size() != kLockHashBytes) {
            throw FieldError{"\"lock\" has an unusable salt, hash or round count"};
        }
        read.iterations = static_cast<std::uint32_t>(iterations);
        job.lock = std::move(read);
    }
    return job;
}

}  // namespace

const std::vector<JobStep>& JobSteps() {
    static const std::vector<JobStep> steps{
        {"blank-check", kAutoBlankCheck, "自动空检查"},
        {"erase", kAutoEraseMtp, "编程前擦除MTP"},
        {"verify", kAutoVerify, "自动校验"},
        {"read-protect", kAutoReadProtect, "自动读保护"},
        {"ldc-protect", kAutoLdcProtect, "自动LDC保护"},
        {"hw-protect", kAutoHwProtect, "自动硬件写保护"},
        {"smart", kAutoSmart, "使能SMART"},
    };
    return steps;
}

std::string JobStepsText(std::uint32_t steps) {
    std::string text;
    for (const JobStep& step : JobSteps()) {
        if ((steps & step.mark) != 0) {
            text += (text.empty() ? "" : ", ") + std::string(step.tick) + " (" + step.name + ")";
        }
    }
    return text.empty() ? "none" : text;
}

std::optional<json> JobObject(const Job& job) {
    json document;
    document["format"] = kJobFormat;
    document["version"] = kJobVersion;
    document["name"] = job.name;
    document["description"] = job.description;
    document["made_by"] = job.madeBy;
    document["made_at"] = job.madeAt;
    document["chip"] = job.otp ? "otp" : "mtp";
    document["range"] = {{"start", Hex(job.start, kAddressDigits)},
                         {"end", Hex(job.end, kAddressDigits)}};
    json steps = json::array();
    for (const JobStep& step : JobSteps()) {
        if ((job.steps & step.mark) != 0) {
            steps.push_back(step.name);
        }
    }
    document["steps"] = steps;
    document["fast"] = job.fast;
    document["serial"] = job.serial ? json{{"job", job.serial->job},
                                           {"at", Hex(job.serial->address, kAddressDigits)},
                                           {"size", job.serial->size}}
                                    : json(nullptr);
    document["quota"] = job.quota ? json(*job.quota) : json(nullptr);
    document["source"] = {
        {"name", job.sourceName}, {"size", job.sourceSize}, {"sha256", job.sourceSha256}};
    const std::optional<std::string> digest = ImageDigest(job.image);
    if (!digest) {
        return std::nullopt;
    }
    json lines = json::array();
    for (std::size_t at = 0; at < job.image.size(); at += kBytesPerImageLine) {
        lines.push_back(
            HexBytes(job.image.data() + at, std::min(kBytesPerImageLine, job.image.size() - at)));
    }
    document["image"] = {{"sha256", *digest},
                         {"checksum", Hex(JobImageChecksum(job), kImageChecksumDigits)},
                         {"hex", lines}};
    document["lock"] = job.lock
                           ? json{{"kind", kLockKind},
                                  {"salt", HexBytes(job.lock->salt.data(), job.lock->salt.size())},
                                  {"iterations", job.lock->iterations},
                                  {"hash", HexBytes(job.lock->hash.data(), job.lock->hash.size())}}
                           : json(nullptr);
    if (!Canonical(document)) {
        return std::nullopt;
    }
    return document;
}

std::optional<std::string> JobChecksum(const Job& job) {
    const std::optional<json> object = JobObject(job);
    const std::optional<std::string> canonical = object ? Canonical(*object) : std::nullopt;
    return canonical ? Digest(*canonical) : std::nullopt;
}

std::optional<std::string> JobDocument(const Job& job) {
    std::optional<json> object = JobObject(job);
    const std::optional<std::string> canonical = object ? Canonical(*object) : std::nullopt;
    const std::optional<std::string> checksum = canonical ? Digest(*canonical) : std::nullopt;
    if (!checksum) {
        return std::nullopt;
    }
    (*object)["checksum"] = *checksum;
    return object->dump(2) + "\n";
}

std::uint16_t JobImageChecksum(const Job& job) {
    const std::uint8_t* bytes = job.image.data();
    const std::size_t count = job.image.size();
    if (!job.serial || job.serial->address < job.start) {
        return SumOfBytes(bytes, count);
    }
    const std::size_t skipFrom = std::min<std::size_t>(job.serial->address - job.start, count);
    const std::size_t skipTo = std::min<std::size_t>(skipFrom + job.serial->size, count);
    return static_cast<std::uint16_t>(SumOfBytes(bytes, skipFrom) +
                                      SumOfBytes(bytes + skipTo, count - skipTo));
}

JobLoad ParseJob(std::string_view text) {
    json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        return Refuse(JobFault::NotJson, "not a job file: the text is not JSON");
    }
    if (!document.is_object() || !document.contains("format") || document["format"] != kJobFormat) {
        return Refuse(JobFault::NotAJob, "not a job file: \"format\" is not \"korujob\"");
    }
    if (!document.contains("version") || !document["version"].is_number_integer()) {
        return Refuse(JobFault::BadField, "the job file has no version");
    }
    if (document["version"] != kJobVersion) {
        return Refuse(JobFault::UnknownVersion,
                      "the job file is of version " + document["version"].dump() +
                          "; this program reads version " + std::to_string(kJobVersion));
    }
    Job job;
    std::string stored;
    try {
        job = ReadJob(document);
        stored = Text(document, "checksum");
        const json& image = Member(document, "image");
        const json& lines = Member(image, "hex");
        if (!lines.is_array()) {
            throw FieldError{"\"hex\" is not a list"};
        }
        for (const json& line : lines) {
            if (!line.is_string() || !ReadHexBytes(line.get<std::string>(), job.image)) {
                throw FieldError{"\"hex\" holds a line that is not hexadecimal bytes"};
            }
        }
        if (job.image.size() != std::size_t{job.end} - job.start + 1) {
            return Refuse(JobFault::ImageDigest,
                          "the image holds " + std::to_string(job.image.size()) +
                              " bytes but the range " + Hex(job.start, kAddressDigits) + "-" +
                              Hex(job.end, kAddressDigits) + " needs " +
                              std::to_string(std::size_t{job.end} - job.start + 1));
        }
        if (ImageDigest(job.image) != Text(image, "sha256")) {
            return Refuse(JobFault::ImageDigest,
                          "the image does not match its own SHA-256: it was changed");
        }
        if (Text(image, "checksum") != Hex(JobImageChecksum(job), kImageChecksumDigits)) {
            return Refuse(JobFault::ImageDigest, "the image does not match its own checksum");
        }
    } catch (const FieldError& error) {
        return Refuse(JobFault::BadField, "the job file is damaged: " + error.text);
    }
    document.erase("checksum");
    const std::optional<std::string> canonical = Canonical(document);
    const std::optional<std::string> computed = canonical ? Digest(*canonical) : std::nullopt;
    if (!computed) {
        return Refuse(JobFault::Unreadable, "the job checksum cannot be computed");
    }
    // What the file says must be what the job object says, member for member: an unknown
    // member would be covered by the checksum but never used.
    const std::optional<json> rebuilt = JobObject(job);
    if (!rebuilt || *rebuilt != document) {
        return Refuse(JobFault::BadField,
                      "the job file is damaged: it holds members or spellings this program "
                      "does not write");
    }
    if (*computed != stored) {
        return Refuse(JobFault::ChecksumDiffers,
                      "the job file was changed after it was made: its contents do not match "
                      "its checksum " +
                          stored.substr(0, kJobShortChecksumDigits));
    }
    JobLoad load;
    load.job = std::move(job);
    load.checksum = *computed;
    return load;
}

JobLoad LoadJobFile(const std::string& path) {
    InputFile file;
    const std::optional<std::uint64_t> size = file.Open(path) ? file.Size() : std::nullopt;
    if (!size) {
        return Refuse(JobFault::Unreadable, "cannot read " + path);
    }
    if (*size > kLargestJobFile) {
        return Refuse(JobFault::NotAJob, path + " is too large for a job file");
    }
    std::string text(static_cast<std::size_t>(*size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const std::optional<std::size_t> got = file.Read(text.data() + done, text.size() - done);
        if (!got) {
            return Refuse(JobFault::Unreadable, "cannot read " + path);
        }
        if (*got == 0) {
            text.resize(done);
            break;
        }
        done += *got;
    }
    return ParseJob(text);
}

bool SaveJobFile(const Job& job, const std::string& path, std::string& error) {
    const std::optional<std::string> text = JobDocument(job);
    if (!text) {
        error = "the job cannot be written (a text that is not UTF-8?)";
        return false;
    }
    OutputFile file;
    if (!file.Create(path) || !file.Append(*text) || !file.Close()) {
        error = file.ErrorText();
        return false;
    }
    return true;
}

bool LockJob(Job& job, std::string_view password) {
    const std::optional<std::vector<std::uint8_t>> salt = RandomBytes(kLockSaltBytes);
    if (!salt) {
        return false;
    }
    const auto hash = Pbkdf2Sha256(password, *salt, kJobLockIterations, kLockHashBytes);
    if (!hash) {
        return false;
    }
    job.lock = JobLock{*salt, kJobLockIterations, *hash};
    return true;
}

bool JobLockOpens(const Job& job, std::string_view password) {
    if (!job.lock) {
        return false;
    }
    const auto hash =
        Pbkdf2Sha256(password, job.lock->salt, job.lock->iterations, job.lock->hash.size());
    if (!hash || hash->size() != job.lock->hash.size()) {
        return false;
    }
    std::uint8_t difference = 0;  // every byte compared, whatever the first difference
    for (std::size_t i = 0; i < hash->size(); ++i) {
        difference |= static_cast<std::uint8_t>((*hash)[i] ^ job.lock->hash[i]);
    }
    return difference == 0;
}

void SetRunningJob(std::optional<JobStamp> stamp) {
    std::lock_guard lock(runningMutex);
    running = std::move(stamp);
}

std::optional<JobStamp> RunningJob() {
    std::lock_guard lock(runningMutex);
    return running;
}

std::string DefaultLotName(const std::string& jobName, const std::string& day) {
    return jobName + " " + day;
}

std::string LotNameProblem(std::string_view text) {
    if (text.empty()) {
        return "a lot needs a name";
    }
    if (text.size() > kLongestLotName) {
        return "a lot's name has " + std::to_string(kLongestLotName) + " bytes at most";
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return "a lot's name holds no control characters";
        }
    }
    if (!Canonical(json(std::string(text)))) {
        return "a lot's name is UTF-8 text";
    }
    return {};
}

std::string LotReportFileName(const std::string& lot) {
    std::string name = "lot-";
    for (const char c : lot) {
        const auto byte = static_cast<unsigned char>(c);
        const bool kept =
            byte >= 0x80 || std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_';
        name += kept ? c : '_';
    }
    return name + ".html";
}

}  // namespace koru
