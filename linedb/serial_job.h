#pragma once

// A serial job: where per-chip data goes (address and size) and where it comes from (a
// counter, a list imported into the line database, or a program the PC runs per chip).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koru {

enum class SerialSource { Counter, List, Command };
enum class CounterFormat { Le, Be, Bcd, Ascii, Hex };

inline constexpr std::size_t kSerialMaxSize = 16;

struct SerialJob {
    std::string name;
    std::uint32_t address = 0;
    std::size_t size = 0;
    SerialSource source = SerialSource::Counter;
    CounterFormat format = CounterFormat::Le;  // counter only
    std::int64_t start = 0;                    // counter only
    std::int64_t step = 1;
    std::optional<std::int64_t> last;
    std::string command;  // command only: the program and its arguments, as typed
};

// "counter", "list", "command" and back.
const char* SerialSourceName(SerialSource source);
std::optional<SerialSource> SerialSourceFromName(const std::string& name);
// "le", "be", "bcd", "ascii", "hex" and back.
const char* CounterFormatName(CounterFormat format);
std::optional<CounterFormat> CounterFormatFromName(const std::string& name);

// value in format, exactly size bytes; nothing when it does not fit (or is negative).
std::optional<std::vector<std::uint8_t>> EncodeCounter(std::int64_t value, CounterFormat format,
                                                       std::size_t size);

// Upper-case hexadecimal digits of bytes, two per byte, no separator.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);
// Hexadecimal bytes as typed ("0A1B", "0a 1b", "0A:1B"); nothing when malformed.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text);

// The values of a list file: one line per value, hexadecimal bytes of exactly size, lines
// starting with '#' and empty lines skipped. Nothing, with the line number in error, when a
// line is bad; with both line numbers when a value comes twice.
std::optional<std::vector<std::vector<std::uint8_t>>> ParseSerialList(const std::string& text,
                                                                      std::size_t size,
                                                                      std::string& error);

// Why a list of values cannot be a job's: a value that comes twice (both entries named,
// counting from 1); empty when every value is there once.
std::string RepeatedListValue(const std::vector<std::vector<std::uint8_t>>& values);

// Whether the job's fields are usable: size 1..16, a positive step, start and last fitting the
// format. Empty, or the reason.
std::string SerialJobProblem(const SerialJob& job);

// The value of a counter job at index (values handed out before); nothing past its last value
// or beyond 64 bits.
std::optional<std::int64_t> CounterValueAt(const SerialJob& job, std::int64_t index);

// A value as typed on the command line, as the job reads it: decimal for counters (the bytes it
// encodes to), hexadecimal bytes otherwise. Gives the label stored with the value.
std::optional<std::string> SerialLabelOf(const SerialJob& job, const std::string& typed);

// The program of a command job split into words at blanks (no shell: quotes are not read).
std::vector<std::string> CommandWords(const std::string& command);

}  // namespace koru
