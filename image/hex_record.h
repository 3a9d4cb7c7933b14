#pragma once

// One Intel HEX record as a line of text: reading it (no I/O, no window) and writing it.
// A record line is ':' followed by hexadecimal pairs: count n, offset (two bytes, most
// significant first), type, n data bytes, and a checksum that makes all bytes sum to 0.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace koru {

inline constexpr std::uint8_t kRecordData = 0x00;
inline constexpr std::uint8_t kRecordDataAlt = 0x20;  // also read as a data record
inline constexpr std::uint8_t kRecordSegment = 0x02;  // extended segment address
inline constexpr std::uint8_t kRecordLinear = 0x04;   // extended linear address (upper 16 bits)

// Bytes of a record besides its data: count, offset high, offset low, type, checksum.
inline constexpr std::size_t kRecordOverhead = 5;
// The shortest record line: ':' and the five overhead bytes as pairs.
inline constexpr std::size_t kShortestRecordChars = 1 + 2 * kRecordOverhead;
// Room for the pairs of the longest line the reader hands over (1023 characters).
inline constexpr std::size_t kRecordBufferBytes = 512;

// Narrows line to start at its last ':' (the line end stays part of it). Returns false, with
// line unchanged, when it holds no ':'. Whatever stands before the last ':' is dropped.
bool CutToLastColon(std::string_view& line);

// record starts with ':' and runs to the end of its line, line end included. True when it is
// at least 11 characters long and at least 2n + 11, n being its first pair read as a byte
// (a pair that is not two digits reads as 0xFF).
bool RecordLengthOk(std::string_view record);

// True when text ends in a record that is shorter than its count requires: its last ':' is
// followed only by record characters, too few of them. A piece of a line that the reader cut
// and that ends so has the rest of its record in the next piece.
bool EndsInShortRecord(std::string_view text);

// Converts text two characters at a time into out, as ParseNumber in radix 16 reads each
// pair, keeping the low byte: a last single character forms a pair by itself, and a pair with
// any character that is not a digit (a line end, say) becomes 0xFF. Stops when out is full.
// Returns the number of bytes written.
std::size_t HexPairsToBytes(std::string_view text, std::span<std::uint8_t> out);

enum class RecordStatus {
    Skipped,      // not a record: empty, no ':', a character outside HexCharSet, too short
    Truncated,    // a line starting with ':' that is shorter than its count requires
    BadChecksum,  // a record whose bytes do not sum to 0
    Ok,
};

struct HexRecord {
    std::uint8_t type = 0;
    std::uint16_t offset = 0;
    // The n data bytes (they point into the caller's buffer).
    std::span<const std::uint8_t> data;
    // The first two bytes after the type, however long the record is (0 where the line had no
    // pair): a segment or linear address record's value is read from them.
    std::uint16_t segmentValue = 0;
};

// Reads one line (line end included, as the reader hands it over) as a record, using buffer
// for its bytes. record is filled only when the result is Ok.
RecordStatus ParseRecordLine(std::string_view line,
                             std::span<std::uint8_t, kRecordBufferBytes> buffer, HexRecord& record);

// Appends the data record of data (at most 255 bytes) at the 16-bit offset, ended by CR LF.
void AppendDataRecord(std::string& out, std::uint16_t offset, std::span<const std::uint8_t> data);

// Appends the extended segment address record of segment, ended by CR LF.
void AppendSegmentRecord(std::string& out, std::uint16_t segment);

}  // namespace koru
