// The started window on the simulated programmer: what a click does while an operation runs,
// and the memory view's chip pages read from the chip.

#include <QGroupBox>
#include <QTableWidget>
#include <QtTest>

#include "core/shared_state.h"
#include "device/simulator.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "link/reset_listener.h"
#include "operations/auto_program.h"
#include "operations/runner.h"
#include "tests/support/hex_text.h"
#include "tests/support/process_state.h"
#include "tests/window/shell_fixture.h"
#include "window/command_router.h"
#include "window/counters.h"
#include "window/programmer_dlg.h"
#include "window/record_warning.h"
#include "window/window_serial.h"
#if KORU_WITH_LINEDB
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "linedb/line_database_location.h"
#include "platform/settings_store.h"
#include "window/serial_settings_dialog.h"
#endif

namespace koru::test {

class ShellSimulatorTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_config;
    device::Simulator m_sim;
    std::unique_ptr<StartedWindow> m_program;

    TestWindow& W() { return m_program->Window(); }
    QString Cell(int row, int column) {
        const QTableWidgetItem* item = W().MemoryList()->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    void Connect() {
        m_program->Click(110);
        QCOMPARE(ProgrammerFoundFlag.load(), 1);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        UseTemporaryConfigFolder(m_config);
        QVERIFY(m_sim.Start());
        qputenv("KORU_COM1", QByteArray::fromStdString(m_sim.SlavePath()));
    }

    void init() {
        ResetProcessState();
        m_sim.SetTiming({});
        m_sim.SetChip(device::ChipKind::Mtp, 0x10000);
        m_program = std::make_unique<StartedWindow>();
        m_program->Start();
    }

    void cleanup() {
        m_program.reset();
        m_sim.ClearRecords();
    }

    void cleanupTestCase() { m_sim.Stop(); }

    // A production record that cannot be written changes nothing of programming: both chips
    // count, the status line says so each time, and the box comes once per run of the program.
    void aRecordThatCannotBeWrittenWarnsOnceAndProgrammingGoesOn() {
        const QString code = m_config.filePath(QStringLiteral("code.hex"));
        QFile file(code);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(HexFileOf(std::vector<std::uint8_t>(0x40, 0x5A))));
        file.close();
        const QByteArray savedState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", code.toUtf8());  // a file: no folder can be made under it
        Connect();
        W().QueueFileAnswer(code);
        m_program->Click(146);
        QVERIFY(StartedWindow::WaitForThreads());
        m_program->Click(141);
        QVERIFY(StartedWindow::WaitForThreads());
        for (int run = 0; run < 2; ++run) {
            m_sim.SetChip(device::ChipKind::Mtp, 0x10000);  // a new chip in the socket
            m_program->Click(136);
            QVERIFY(StartedWindow::WaitForThreads());
            QVERIFY(W().FieldText(157).endsWith(QString::fromUtf8(kRecordNotWrittenNote)));
            QVERIFY(W().FieldText(157).size() > QString::fromUtf8(kRecordNotWrittenNote).size());
        }
        qputenv("XDG_STATE_HOME", savedState);
        QCOMPARE(SuccessCount.load() + FailureCount.load(), 2u);  // both runs counted
        QCOMPARE(W().boxes.size(), std::size_t{1});
        QCOMPARE(W().boxes[0].caption, QString::fromUtf8(kRecordWarningCaption));
        QVERIFY(W().boxes[0].text.contains(code));
    }

#if KORU_WITH_LINEDB
    // A counter job defined in "序列号设置…" and chosen there: two runs put consecutive values
    // into the chip, the records carry them, the title shows the last and the next, and the
    // memory view keeps showing the loaded image.
    void aSerialCounterGivesTwoRunsConsecutiveValuesAndTheViewKeepsTheLoadedImage() {
        QTemporaryDir state;
        const QByteArray savedState = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.path().toUtf8());
        {
            SerialSettingsDialog dialog(&W(), DefaultLineDatabasePath(), "");
            dialog.NameEdit()->setText(QStringLiteral("W"));
            dialog.AddressEdit()->setText(QStringLiteral("0012"));
            dialog.SizeBox()->setValue(2);
            dialog.FormatList()->setCurrentText(QStringLiteral("be"));
            dialog.StartEdit()->setText(QStringLiteral("258"));
            QVERIFY(dialog.DefineCounter());
            QCOMPARE(dialog.ChosenJob(), std::string("W"));
            QVERIFY2(dialog.Counts()->text().contains(QStringLiteral("下一个: 258")),
                     qPrintable(dialog.Counts()->text()));
        }
        W().Serial().Choose("W");
        QCOMPARE(StartedWindow::StoredSettings().GetString("serialjob").value_or(""), "W");

        const QString code = m_config.filePath(QStringLiteral("serial.hex"));
        QFile file(code);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(HexFileOf(std::vector<std::uint8_t>(0x40, 0x5A))));
        file.close();
        Connect();
        W().QueueFileAnswer(code);
        m_program->Click(146);
        QVERIFY(StartedWindow::WaitForThreads());
        m_program->Click(141);
        QVERIFY(StartedWindow::WaitForThreads());
        for (int run = 0; run < 2; ++run) {
            m_sim.SetChip(device::ChipKind::Mtp, 0x10000);  // a new chip in the socket
            m_program->Click(136);
            QVERIFY(StartedWindow::WaitForThreads());
            const auto chip = m_sim.ChipContents();
            QCOMPARE(int(chip[0x12]), 0x01);
            QCOMPARE(int(chip[0x13]), 0x02 + run);
            QCOMPARE(int(chip[0x14]), 0x5A);
            QCOMPARE(int(ProgramMemory[0x12]), 0x5A);  // the loaded byte is back
        }
        QTRY_VERIFY2(W().windowTitle().contains(QStringLiteral("W: 259, 下一个 260")),
                     qPrintable(W().windowTitle()));
        m_program->Click(139);  // the memory view: the loaded image
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(Cell(1, 3), QStringLiteral("5A"));

        std::vector<std::string> values;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(
                 state.path().toStdString() + "/lumatrix/production")) {
            std::ifstream day(entry.path());
            std::string line;
            while (std::getline(day, line)) {
                values.push_back(nlohmann::json::parse(line)["serial"]["value"]);
            }
        }
        QCOMPARE(values, (std::vector<std::string>{"258", "259"}));
        W().Serial().Choose("");
        qputenv("XDG_STATE_HOME", savedState);
    }
#endif

    void whileAWorkerRunsTheFourGroupsWaitAndTheCountersWork() {
        Connect();
        m_program->Click(139);  // the memory view, with its first page
        QVERIFY(StartedWindow::WaitForThreads());
        const QString displayAddress = W().FieldText(162);

        // A slow blank check: 32 progress steps of 150 ms.
        device::DeviceTiming slow;
        slow.stepDelay = std::chrono::milliseconds(150);
        m_sim.SetTiming(slow);
        m_sim.ClearRecords();
        RouteCommand(W(), 138, W().Control(107));
        QCOMPARE(BusyFlag.load(), 1);
        QVERIFY(LiveOperationWorkers() > 0);

        SuccessCount = 9;
        m_program->Click(161);                     // "下一页": memory view group
        RouteCommand(W(), 146, W().Control(108));  // "打开文件"
        RouteCommand(W(), 141, W().Control(107));  // "缓冲区检查和" (no code: would box)
        RouteCommand(W(), 111, W().Control(101));  // "COM2"
        m_program->Click(172);                     // "清零": works
        QCOMPARE(W().boxes.size(), std::size_t{1});
        QCOMPARE(W().boxes[0].caption, QString::fromUtf8(kClearCaption));
        QCOMPARE(SuccessCount.load(), 0u);
        QVERIFY(W().fileFilters.empty());
        QVERIFY(!W().FieldText(157).startsWith(QString::fromUtf8(kProbeAnnounceText)));
        QCOMPARE(BusyFlag.load(), 1);  // still the same run

        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(W().FieldText(162), displayAddress);
        std::size_t blankChecks = 0;
        for (const auto& exchange : m_sim.Exchanges()) {
            QCOMPARE(int(exchange.Code()), int(device::kCodeBlankCheck));
            ++blankChecks;
        }
        QCOMPARE(blankChecks, std::size_t{1});
        QCOMPARE(BusyFlag.load(), 0);

        // Once the run is over the same click acts.
        m_program->Click(161);
        QVERIFY(StartedWindow::WaitForThreads());
        QVERIFY(W().FieldText(162) != displayAddress);
    }

    void timerTicksListenForTheProgrammersReset() {
        Connect();
        CodeLoadedFlag = 1;
        m_sim.SendReset();
        // Timer 501 ticks once a second; a tick starts the listener that hears the reset.
        QTRY_COMPARE_WITH_TIMEOUT(W().FieldText(157), QString::fromUtf8(kProgrammerResetText),
                                  10000);
        QCOMPARE(CodeLoadedFlag.load(), 0);
    }

    void chipViewShowsTheChipsBytes() {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 0x20; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(0xA0 + i));
        }
        m_sim.WriteChip(0x100, bytes);
        Connect();
        m_program->Click(139);
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(Cell(0, 1), QStringLiteral("FF"));  // the image is blank

        m_program->Click(161);  // page 00100 of the image: still blank
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(Cell(0, 0), QStringLiteral("00100"));
        QCOMPARE(Cell(0, 1), QStringLiteral("FF"));

        m_sim.ClearRecords();
        m_program->Click(166);  // the chip's own bytes, read from the chip
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(W().Group(158)->title(), QString::fromUtf8("芯片代码视图"));
        QCOMPARE(Cell(0, 0), QStringLiteral("00100"));
        QCOMPARE(Cell(0, 1), QStringLiteral("A0"));
        QCOMPARE(Cell(1, 16), QStringLiteral("BF"));
        QCOMPARE(Cell(2, 1), QStringLiteral("FF"));
        bool readChip = false;
        for (const auto& exchange : m_sim.Exchanges()) {
            readChip = readChip || exchange.Code() == device::kCodeReadChip;
        }
        QVERIFY(readChip);
        QCOMPARE(ProgramMemory[0x100], std::uint8_t{0xFF});  // the image is left alone

        m_program->Click(165);  // back to the image
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(Cell(0, 1), QStringLiteral("FF"));
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::ShellSimulatorTest)
#include "shell_simulator_test.moc"
