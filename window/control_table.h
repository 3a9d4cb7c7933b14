#pragma once

// The main window's controls: one row per control, in creation order. This table is the truth
// for ids, kinds, captions, parents, pixel rectangles, fonts and start-up states; the window
// builds itself from it and the tests check the window against it.

#include <span>

namespace koru {

enum class ControlKind { Group, Radio, Check, Button, Edit, Label, Link, List };

// Style and start-up flags of a control.
enum ControlFlag : unsigned {
    kNoFlags = 0,
    kStartsRadioGroup = 1u << 0,
    kHiddenAtStart = 1u << 1,
    kMarkedAtStart = 1u << 2,
    kDisabledAtStart = 1u << 3,
    kCentred = 1u << 4,
    kUpperCase = 1u << 5,
    kReadOnly = 1u << 6,
    kMtpOnly = 1u << 7,  // enabled only while the MTP chip kind is selected
};

inline constexpr int kParentMain = 0;  // the control sits directly on the main window

// The window's four fonts (see window_fonts.h).
enum class WindowFont { Controls = 1, Fields = 2, Link = 3, MemoryList = 4 };

struct ControlEntry {
    int id;
    ControlKind kind;
    const char* caption;           // UTF-8; for edits the start-up text
    int parent;                    // kParentMain or the id of a group box
    int left, top, right, bottom;  // pixels in the parent's client area; right/bottom exclusive
    unsigned flags;
    WindowFont font;
};

// Every control, in creation order.
std::span<const ControlEntry> ControlTable();

// The row of id, or nullptr.
const ControlEntry* FindControlEntry(int id);

}  // namespace koru
