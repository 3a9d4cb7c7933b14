#pragma once

// Code for the benchmarks' chips: an Intel HEX file of size bytes with no blank byte, so every
// address of the range counts.

#include <cstddef>
#include <filesystem>

namespace koru::bench {

void WriteHexCode(const std::filesystem::path& path, std::size_t size);

}  // namespace koru::bench
