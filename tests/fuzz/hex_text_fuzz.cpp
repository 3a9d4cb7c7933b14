// libFuzzer target for the text path of the code-file loader: any bytes as a HEX file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "image/hex_record.h"
#include "image/hex_text_loader.h"
#include "image/program_memory.h"
#include "image/text_line_reader.h"

namespace {

using Image = std::array<std::uint8_t, koru::kImageSize>;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<Image> image = std::make_unique<Image>();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Lines never exceed the cut and together never exceed the text (CR LF shrinks to LF).
    koru::TextLineReader lines(text);
    std::string_view line;
    std::size_t total = 0;
    while (lines.NextLine(line)) {
        Check(!line.empty() && line.size() <= koru::kMaxLineChars);
        total += line.size();
    }
    Check(total <= size && !lines.Failed());

    koru::TextLineReader reader(text);
    const koru::HexLoadResult result = koru::LoadHexText(reader, *image);
    Check(result.end <= koru::kImageSize);
    Check(result.outcome != koru::HexLoadOutcome::ReadFailed);

    // The record parser on its own, also with lines longer than the reader hands over.
    std::array<std::uint8_t, koru::kRecordBufferBytes> buffer{};
    koru::HexRecord record;
    if (koru::ParseRecordLine(text, buffer, record) == koru::RecordStatus::Ok) {
        Check(record.data.size() <= 255);
    }
    return 0;
}
