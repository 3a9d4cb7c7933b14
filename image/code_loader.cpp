#include "image/code_loader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/code_file_identity.h"
#include "image/hex_text_loader.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "image/text_line_reader.h"
#include "platform/input_file.h"
#include "platform/sha256.h"

namespace koru {
namespace {

// The open dialog's filter: HEX, OBJ and BIN files, HEX selected first.
constexpr char kOpenFilter[] = "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj|BIN文件(*.*)|*.bin||";
constexpr std::string_view kBinarySuffix = ".bin";
constexpr std::size_t kMaxFileNameChars = 1023;  // longest name read from the name field
constexpr std::uint8_t kAddressDigits = 4;
constexpr std::uint8_t kChecksumDigits = 4;

constexpr char kNoFileName[] = "请指定一个代码文件";
constexpr char kBinaryOpenFailed[] = "打开文件失败";
constexpr char kTextOpenFailed[] = "打开代码文件失败!请确认该文件是否存在或对该文件是否有存取权限!";
constexpr char kLoading[] = "调入代码文件.....";
constexpr char kBadRecordChecksum[] = "代码文件错误[行检查和错误]";
constexpr char kNoCode[] = "代码文件错误[未包含有效代码]";
constexpr char kOutOfRange[] = "代码文件错误[地址超出范围]";
constexpr char kTruncatedRecord[] = "代码文件错误[记录不完整]";
constexpr char kLoaded[] = "调入代码成功!";

using Image = std::array<std::uint8_t, kImageSize>;

// Off the stack: the worker's stack is no place for a megabyte.
std::unique_ptr<Image> BlankScratchImage() {
    auto image = std::make_unique_for_overwrite<Image>();
    image->fill(kBlankByte);
    return image;
}

void Fail(const char* text) {
    FailureFlag = 1;
    ReportRefusal(text);
}

// Reads exactly size bytes; false on a read error or when the file ends early.
bool ReadExactly(InputFile& file, std::uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const auto got = file.Read(reinterpret_cast<char*>(out) + done, size - done);
        if (!got || *got == 0) {
            return false;
        }
        done += *got;
    }
    return true;
}

// The binary path. Returns the loaded end (one past the last byte), or 0 with the failure
// reported. The bytes read go into digest.
std::uint32_t ReadBinaryFile(const std::string& name, Image& scratch, Sha256& digest) {
    InputFile file;
    const std::optional<std::uint64_t> fileSize =
        file.Open(name) ? file.Size() : std::optional<std::uint64_t>();
    if (!fileSize) {
        Fail(kBinaryOpenFailed);
        return 0;
    }
    const std::uint64_t size = *fileSize;
    if (size > kImageSize) {
        Fail(kOutOfRange);
        return 0;
    }
    if (size == 0) {
        Fail(kNoCode);
        return 0;
    }
    if (!ReadExactly(file, scratch.data(), size)) {
        Fail(kBinaryOpenFailed);
        return 0;
    }
    digest.Add(std::string_view(reinterpret_cast<const char*>(scratch.data()), size));
    return static_cast<std::uint32_t>(size);
}

// The text path. Returns the loaded end, or 0 with the failure reported. The text read goes
// into digest: all of it when the load succeeds, since the text is read to its end.
std::uint32_t ReadHexFile(const std::string& name, Image& scratch, Sha256& digest) {
    ImageOverwrittenFlag = 0;  // the image is about to come from a file again
    InputFile file;
    if (!file.Open(name)) {
        Fail(kTextOpenFailed);
        return 0;
    }
    Window().SetStatusLine(kLoading);
    TextLineReader reader(file, &digest);
    const HexLoadResult result = LoadHexText(reader, scratch);
    switch (result.outcome) {
        case HexLoadOutcome::Done:
            break;
        case HexLoadOutcome::BadChecksum:
            Fail(kBadRecordChecksum);
            return 0;
        case HexLoadOutcome::OutOfRange:
            Fail(kOutOfRange);
            return 0;
        case HexLoadOutcome::Truncated:
            Fail(kTruncatedRecord);
            return 0;
        case HexLoadOutcome::ReadFailed:
            Fail(kTextOpenFailed);
            return 0;
    }
    if (result.end == 0) {
        Fail(kNoCode);
    }
    return result.end;
}

}  // namespace

bool IsBinaryCodeFileName(std::string_view name) {
    if (name.size() < kBinarySuffix.size()) {
        return false;
    }
    std::string tail(name.substr(name.size() - kBinarySuffix.size()));
    std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return tail == kBinarySuffix;
}

void ReadCodeFile() {
    FailureFlag = 0;
    std::string name = Window().ReadField(TextField::CodeFileName);
    name.resize(std::min(name.size(), kMaxFileNameChars));
    name.resize(std::min(name.size(), name.find('\0')));  // the system's names end at a NUL
    if (name.empty()) {
        Fail(kNoFileName);
        return;
    }
    const std::unique_ptr<Image> scratch = BlankScratchImage();
    Sha256 digest;
    const std::uint32_t end = IsBinaryCodeFileName(name) ? ReadBinaryFile(name, *scratch, digest)
                                                         : ReadHexFile(name, *scratch, digest);
    if (end == 0) {
        return;  // the failure is reported; the image and its range are untouched
    }
    ProgramMemory = *scratch;
    StartAddress = 0;
    EndAddress = end - 1;
    CodeLoadedFlag = 1;
    const std::uint64_t size = digest.Size();
    RememberLoadedCodeFile(name, size, digest.Finish().value_or(""));
    ReportSuccess(kLoaded);
}

void LoadCodeFile() {
    FailureFlag = 0;
    ReadCodeFile();
    if (FailureFlag != 0) {
        return;
    }
    const std::uint32_t start = StartAddress;
    const std::uint32_t end = EndAddress;
    Window().WriteField(TextField::StartAddress, "0000");
    Window().WriteField(TextField::EndAddress, Hex(end, kAddressDigits));
    Window().WriteField(TextField::Checksum, Hex(SumImageRange(start, end), kChecksumDigits));
    SetChecksumRange({start, end});
}

bool ChooseCodeFile() {
    const std::optional<std::string> path =
        Window().ShowFileDialog(FileDialogKind::Open, kOpenFilter);
    if (!path) {
        return false;
    }
    Window().WriteField(TextField::CodeFileName, *path);
    return true;
}

}  // namespace koru
