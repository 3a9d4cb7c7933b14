// window_latency: how late the window's event loop answers while auto-programming runs.
// Starts the real main window on the platform Qt picks (QT_QPA_PLATFORM=offscreen, or a
// display such as Xvfb's), connects it to the simulated programmer pacing a 19200-baud line,
// loads an 8 KiB image and auto-programs it with the window's default steps. Meanwhile a
// 10 ms timer measures how late the loop serves it, and every 100 ms a synthetic click is
// posted to the status line and timed until the line receives it. The reference is the same
// measurement over the same time with the window idle, in the same run.
// Targets: p99 lateness at most 16 ms, worst at most 50 ms.
//
//   window_latency [--size BYTES]

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/services.h"
#include "core/shared_state.h"
#include "device/simulator.h"
#include "image/program_memory.h"
#include "link/reset_listener.h"
#include "operations/runner.h"
#include "platform/serial_port.h"
#include "window/programmer_dlg.h"
#include "window/qt_window_services.h"

namespace koru {
namespace {

constexpr int kTickMs = 10;
constexpr int kClickEveryMs = 100;
constexpr int kStatusLineId = 157;
constexpr int kConnectId = 110;      // "COM1"
constexpr int kOpenFileId = 146;     // "打开文件"
constexpr int kAutoProgramId = 136;  // "自动编程"
constexpr qint64 kRunLimitMs = 10 * 60 * 1000;

// The main window with its boxes answered (recorded, never modal) and the open dialog
// choosing the bench's code file.
class BenchWindow final : public CProgrammerDlg {
  public:
    QString codeFile;
    std::vector<QString> boxes;

    MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon,
                              MessageButtons buttons) override {
        boxes.push_back(caption + ": " + text);
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    std::optional<QString> RunFileDialog(FileDialogKind kind, const QString&) override {
        return kind == FileDialogKind::Open ? std::optional(codeFile) : std::nullopt;
    }
};

// The 10 ms timer and the clicks, and what they saw.
class LoopProbe final : public QObject {
  public:
    explicit LoopProbe(QWidget* target) : m_target(target) {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(kTickMs);
        QObject::connect(&m_tick, &QTimer::timeout, this, [this] { Tick(); });
        m_click.setTimerType(Qt::PreciseTimer);
        m_click.setInterval(kClickEveryMs);
        QObject::connect(&m_click, &QTimer::timeout, this, [this] { PostClick(); });
        m_target->installEventFilter(this);
    }

    void Start() {
        lateMs.clear();
        clickMs.clear();
        m_clock.start();
        m_lastTick = 0;
        m_clickPosted = -1;
        m_tick.start();
        m_click.start();
    }
    void Stop() {
        m_tick.stop();
        m_click.stop();
    }

    std::vector<double> lateMs;   // per tick: how much later than 10 ms after the last one
    std::vector<double> clickMs;  // per click: posted until the status line received it

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_target && event->type() == QEvent::MouseButtonRelease &&
            m_clickPosted >= 0) {
            clickMs.push_back(static_cast<double>(m_clock.nsecsElapsed() - m_clickPosted) / 1e6);
            m_clickPosted = -1;
            return true;  // the status line does nothing with it
        }
        if (watched == m_target && event->type() == QEvent::MouseButtonPress &&
            m_clickPosted >= 0) {
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    void Tick() {
        const qint64 now = m_clock.nsecsElapsed();
        if (m_lastTick != 0) {
            const double late = static_cast<double>(now - m_lastTick) / 1e6 - kTickMs;
            lateMs.push_back(std::max(0.0, late));
        }
        m_lastTick = now;
    }
    void PostClick() {
        if (m_clickPosted >= 0) {
            return;  // the last one has not arrived yet: its time keeps growing
        }
        const QPointF at(4, 4);
        m_clickPosted = m_clock.nsecsElapsed();
        QCoreApplication::postEvent(
            m_target, new QMouseEvent(QEvent::MouseButtonPress, at, m_target->mapToGlobal(at),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            m_target, new QMouseEvent(QEvent::MouseButtonRelease, at, m_target->mapToGlobal(at),
                                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    }

    QWidget* m_target;
    QTimer m_tick;
    QTimer m_click;
    QElapsedTimer m_clock;
    qint64 m_lastTick = 0;
    qint64 m_clickPosted = -1;
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void Print(const char* what, const LoopProbe& probe) {
    std::printf(
        "%-22s ticks %5zu  lateness p50 %6.2f  p99 %6.2f  worst %7.2f ms   clicks %4zu  "
        "round trip p50 %6.2f  p99 %6.2f  worst %7.2f ms\n",
        what, probe.lateMs.size(), Percentile(probe.lateMs, 0.5), Percentile(probe.lateMs, 0.99),
        Percentile(probe.lateMs, 1.0), probe.clickMs.size(), Percentile(probe.clickMs, 0.5),
        Percentile(probe.clickMs, 0.99), Percentile(probe.clickMs, 1.0));
}

// Runs the event loop until done() or the limit.
template <class Done>
bool RunUntil(Done done, qint64 limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

void Pump(qint64 ms) {
    QElapsedTimer timer;
    timer.start();
    RunUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

bool WorkersDone() {
    return LiveOperationWorkers() == 0 && BusyFlag.load() == 0;
}

int Run(int argc, char** argv) {
    std::uint32_t size = 0x2000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--size") {
            size = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 0));
        }
    }
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    qputenv("XDG_STATE_HOME", folder.path().toUtf8());

    device::Simulator sim;
    device::DeviceTiming paced;
    paced.paceLine = true;
    if (!sim.Start(paced)) {
        std::printf("the simulator did not start\n");
        return 1;
    }
    sim.SetChip(device::ChipKind::Mtp, std::max<std::uint32_t>(size, 0x2000));
    qputenv("KORU_COM1", QByteArray::fromStdString(sim.SlavePath()));

    const std::string code = (folder.path() + "/code.bin").toStdString();
    {
        std::vector<char> bytes(size);
        std::uint32_t seed = 7;
        for (char& c : bytes) {
            seed = seed * 1664525u + 1013904223u;
            c = static_cast<char>(seed >> 24);
        }
        std::ofstream(code, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
    }

    QApplication app(argc, argv);
    BenchWindow window;
    window.codeFile = QString::fromStdString(code);
    QtWindowServices services(window);
    InstallWindowServices(&services);
    window.OnInitDialog();
    window.show();
    Pump(500);
    std::printf("platform %s, %u bytes, paced simulator at 19200 baud\n",
                qPrintable(QGuiApplication::platformName()), size);

    window.Command(kConnectId, window.Control(kConnectId)->parentWidget());
    window.Command(kOpenFileId, window.Control(kOpenFileId)->parentWidget());
    RunUntil(WorkersDone, 60000);
    if (ProgrammerFoundFlag.load() == 0 || CodeLoadedFlag.load() == 0) {
        std::printf("no programmer or no code: %s\n", qPrintable(window.FieldText(kStatusLineId)));
        return 1;
    }

    LoopProbe probe(window.Control(kStatusLineId));
    // The reference: the window idle for a while.
    probe.Start();
    Pump(3000);
    probe.Stop();
    Print("idle (reference)", probe);

    probe.Start();
    QElapsedTimer run;
    run.start();
    window.Command(kAutoProgramId, window.Control(kAutoProgramId)->parentWidget());
    const bool ended = RunUntil(WorkersDone, kRunLimitMs);
    probe.Stop();
    Print("auto-programming", probe);
    std::printf("run: %.1f s, status \"%s\", %zu boxes\n", static_cast<double>(run.elapsed()) / 1e3,
                qPrintable(window.FieldText(kStatusLineId)), window.boxes.size());
    for (const QString& box : window.boxes) {
        std::printf("  box: %s\n", qPrintable(box));
    }
    const double p99 = Percentile(probe.lateMs, 0.99);
    const double worst = Percentile(probe.lateMs, 1.0);
    std::printf("target p99 <= 16 ms: %s, worst <= 50 ms: %s\n", p99 <= 16 ? "met" : "NOT met",
                worst <= 50 ? "met" : "NOT met");

    EndResetListener();
    RunUntil([] { return LiveOperationWorkers() == 0 && LiveListenerThreads() == 0; }, 10000);
    Port().Close();
    InstallWindowServices(nullptr);
    sim.Stop();
    return ended && p99 <= 16 && worst <= 50 ? 0 : 1;
}

}  // namespace
}  // namespace koru

int main(int argc, char** argv) {
    return koru::Run(argc, argv);
}
