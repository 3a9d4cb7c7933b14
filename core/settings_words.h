#pragma once

// The saved values of the window program and how a load turns them into the option marks, so
// that the window and koru-cli read the same settings the same way.

#include <cstdint>

namespace koru {

inline constexpr char kSettingsKey[] = "lumatrix";  // Software\lumatrix
inline constexpr char kValueCom[] = "com";
inline constexpr char kValueData[] = "data";
inline constexpr char kValueChip[] = "chip";
inline constexpr char kValueVdd[] = "Vdd";
inline constexpr char kValueAuto[] = "auto";
inline constexpr char kValueAutoCount[] = "autocount";
inline constexpr char kValueAutoFunc[] = "autofunc";
// The line database, the programs a command serial job may run, the window's serial job.
inline constexpr char kValueLineDb[] = "linedb";
inline constexpr char kValueSerialCommands[] = "serialcommands";
inline constexpr char kValueSerialJob[] = "serialjob";

// What a load adds when a word is absent, and what it always sets.
inline constexpr std::uint32_t kDefaultAutoFunc = 0x21;  // always-set bit, buzzer on
inline constexpr std::uint32_t kDefaultAutoOptions = 0x79;
inline constexpr std::uint32_t kAutoCountAlways = 0x11;

// The auto-programming boxes a load marks for these words: the stored blank-check, LDC, erase
// and hardware-protection bits, read protection, SMART and verify always, and in locked
// production mode hardware protection and erase too.
std::uint32_t OptionMarksAfterLoad(std::uint32_t autoOptions, std::uint32_t autoFunc);

}  // namespace koru
