#pragma once

// RouteCommand: the single place where a click on the window becomes an action — a port probe,
// a change of the window, a message box, or an operation handed to the runner. The main window
// hands each click here; the router reaches the window only through CommandWindow. Runs on the
// window's thread and never waits for an operation.

#include <QString>

#include "window/counters.h"

class QWidget;

namespace koru {

class WindowJob;

// What the commands need of the window besides the counters' part: the open job, the chip-kind
// rule, the memory view, the status line and the window's end. The main window implements it.
class CommandWindow : public CounterWindow {
  public:
    virtual WindowJob& Job() = 0;
    // Enables and disables the controls that depend on the chip kind; id is 114 (OTP) or 115
    // (MTP).
    virtual void ApplyChipKind(int id) = 0;
    // Switches between the normal layout (false) and the memory view (true).
    virtual void ShowMemoryView(bool on) = 0;
    virtual bool IsMemoryListPrepared() const = 0;
    virtual void PrepareMemoryList() = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // Ends the window as its close box does: the settings are saved.
    virtual void EndWindow() = 0;

  protected:
    ~CommandWindow() = default;
};

// id: the clicked control (or the button an edit stands in for); parent: the widget that holds
// it. While an operation runs, commands from the groups "编程操作", "文件操作", "端口" and the
// memory view are ignored.
void RouteCommand(CommandWindow& window, int id, QWidget* parent);

// True while the commands of the controls held by parent are ignored: an operation runs and
// parent is one of the four groups above.
bool RefusedWhileBusy(const QWidget* parent);

// The boxes of the router.
inline constexpr char kNoCodeCaption[] = "警 告";
inline constexpr char kNoCodeText[] = "编程内存中无代码调入,请打开相关的\n代码文件以调入编程代码!";
inline constexpr char kAddressChangedCaption[] = "提 示";
inline constexpr char kAddressChangedText[] =
    "编程地址已改变,请首先点击[缓冲区检查和]按钮\n以得到编程内存检查和!";
inline constexpr char kOverwrittenCaption[] = "提示";
inline constexpr char kOverwrittenText[] =
    "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!";
inline constexpr char kDataFormatCaption[] = "提  示";
inline constexpr char kRiscFormatText[] =
    "你已选择Risc数据格式,\n请设置编程起始地址和终止地址为\n字(WORD)格式(WORD = BYTES*2)";
inline constexpr char kArmFormatText[] =
    "你已选择ARM数据格式,\n请设置编程起始地址和终止地址为\n双字(DWORD)格式(DWORD = BYTES*4)";
inline constexpr char kChooseOperationText[] = "请选择编程操作";

}  // namespace koru
