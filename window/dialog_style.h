#pragma once

// The look of the window's buttons: the application's style with the indicator size and label
// spacing of the dialogs the window was designed for, so that captions fit their rectangles.

class QStyle;

namespace koru {

// Shared by every control that uses it; owned by the application.
QStyle* DialogStyle();

}  // namespace koru
