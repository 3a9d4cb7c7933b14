#pragma once

// The seam between the logic side and the window. The logic side reads the operator's
// selections and reports only through this interface, so it never includes a Qt header and
// is tested without a window. Every call may come from any thread; the window answers it on
// its own thread and the caller waits for the answer.

#include <array>
#include <optional>
#include <string>

namespace koru {

// The radio buttons and check boxes whose state the logic side reads.
enum class Choice {
    SerialOtp,        // "串行OTP芯片"
    SerialMtp,        // "串行MTP芯片"
    DataSam,          // "SAM4/SAM8"
    DataCalmRisc,     // "CalmRisc"
    DataArm,          // "ARM"
    Vdd50,            // "5.0V"
    Vdd33,            // "3.3V"
    AutoReadProtect,  // "自动读保护"      auto 0x01
    AutoLdcProtect,   // "自动LDC保护"     auto 0x02
    AutoBlankCheck,   // "自动空检查"      auto 0x04
    AutoHwProtect,    // "自动硬件写保护"  auto 0x08
    AutoSmart,        // "使能SMART"       auto 0x10
    AutoVerify,       // "自动校验"        auto 0x20
    AutoEraseMtp,     // "编程前擦除MTP"   auto 0x40
    FastMode,         // "快速模式"
    ChipView,         // "芯片代码视图": the memory view shows the chip, not the image
    AsciiView,        // "ASCII格式显示"
};

// Marked: the control shows its check mark, whatever its focus or pressed state.
// Available: the control is enabled.
struct ChoiceState {
    bool marked = false;
    bool available = false;
};

// The text fields the logic side reads or writes.
enum class TextField {
    CodeFileName,    // edit 147, any text
    StartAddress,    // edit 129, hexadecimal
    EndAddress,      // edit 131, hexadecimal
    Checksum,        // edit 153, four hexadecimal digits or empty
    SuccessCount,    // edit 179, decimal
    FailureCount,    // edit 180, decimal
    DisplayAddress,  // edit 162, the memory view's page address
};

enum class MessageIcon { None, Warning, Question, Information };

// OkCancel has Cancel as its default button.
enum class MessageButtons { Ok, OkCancel, YesNo };

enum class MessageAnswer { Ok, Cancel, Yes, No };

enum class FileDialogKind { Open, Save };

// One page of the memory view: sixteen row labels and sixteen cells per row.
struct MemoryPageText {
    std::array<std::string, 16> rowLabels;
    std::array<std::array<std::string, 16>, 16> cells;
};

class WindowServices {
  public:
    virtual ~WindowServices() = default;

    virtual ChoiceState GetChoice(Choice choice) = 0;

    virtual std::string ReadField(TextField field) = 0;
    virtual void WriteField(TextField field, const std::string& text) = 0;

    // Replaces the whole status line. It shows red while FailureFlag is set, blue otherwise,
    // and repaints at once even while the window's thread is busy with a probe.
    virtual void SetStatusLine(const std::string& text) = 0;

    // Wait cursor while BusyFlag is set, arrow otherwise.
    virtual void RefreshCursor() = 0;

    // While locked, clicks on the memory view's three view-mode controls are ignored.
    virtual void LockViewControls(bool locked) = 0;

    // (Re)starts timer 0, whose ticks start the reset listener.
    virtual void RestartTick() = 0;

    // Modal, owned by the main window; the caller waits for the operator's answer.
    virtual MessageAnswer ShowMessageBox(const std::string& caption, const std::string& text,
                                         MessageIcon icon, MessageButtons buttons) = 0;

    // The system's file dialog with a filter such as "hex文件(*.hex)|*.hex|...||".
    // Returns the chosen full path, or nothing when the operator cancels.
    virtual std::optional<std::string> ShowFileDialog(FileDialogKind kind,
                                                      const std::string& filter) = 0;

    // Draws one page into the memory list, in the list's blue text.
    virtual void ShowMemoryPage(const MemoryPageText& page) = 0;
};

// Window services that show nothing: nothing marked, empty fields, Ok to a notice and Cancel/No
// to every question, no file chosen. The stand-in until a window is installed, and a base for
// programs and tools that need only a few services (they override those).
class QuietWindowServices : public WindowServices {
  public:
    ChoiceState GetChoice(Choice) override { return {}; }
    std::string ReadField(TextField) override { return {}; }
    void WriteField(TextField, const std::string&) override {}
    void SetStatusLine(const std::string&) override {}
    void RefreshCursor() override {}
    void LockViewControls(bool) override {}
    void RestartTick() override {}
    MessageAnswer ShowMessageBox(const std::string& caption, const std::string& text,
                                 MessageIcon icon, MessageButtons buttons) override;
    std::optional<std::string> ShowFileDialog(FileDialogKind, const std::string&) override {
        return std::nullopt;
    }
    void ShowMemoryPage(const MemoryPageText&) override {}
};

// The window services of this process; a QuietWindowServices until a window installs its own.
WindowServices& Window();

// Installs the services the logic side uses from now on; nullptr restores the stand-in.
// Install before any worker starts; the pointer must outlive every use.
void InstallWindowServices(WindowServices* services);

}  // namespace koru
