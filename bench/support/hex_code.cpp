#include "bench/support/hex_code.h"

#include <cstdio>
#include <fstream>

namespace koru::bench {

void WriteHexCode(const std::filesystem::path& path, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    constexpr std::size_t kLine = 16;
    for (std::size_t address = 0; address < size; address += kLine) {
        unsigned sum = kLine + (address >> 8) + (address & 0xFF);
        char text[64];
        int n = std::snprintf(text, sizeof text, ":%02X%04X00", static_cast<unsigned>(kLine),
                              static_cast<unsigned>(address));
        out.write(text, n);
        for (std::size_t i = 0; i < kLine; ++i) {
            const unsigned byte = (address + i) * 7 % 251;
            sum += byte;
            n = std::snprintf(text, sizeof text, "%02X", byte);
            out.write(text, n);
        }
        n = std::snprintf(text, sizeof text, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out.write(text, n);
    }
    out << ":00000001FF\r\n";
}

}  // namespace koru::bench
