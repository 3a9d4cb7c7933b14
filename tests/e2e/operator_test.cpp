// The whole program driven like an operator: the real window on the simulated programmer.
// Pick COM1, open the sample HEX file, "缓冲区检查和", "自动编程"; the chip then holds the
// image. Close the window and start it again: the settings came back and COM1 is probed.

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <cstdlib>

#include "core/settings_words.h"
#include "core/shared_state.h"
#include "device/simulator.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "operations/auto_program.h"
#include "platform/settings_store.h"
#include "samples/sample_image.h"
#include "tests/support/process_state.h"
#include "tests/support/recording_buzzer.h"
#include "tests/window/shell_fixture.h"

namespace koru::test {

class OperatorTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_config;
    device::Simulator m_sim;
    RecordingBuzzer m_buzzer;

  private slots:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        UseTemporaryConfigFolder(m_config);
        ResetProcessState();
        QVERIFY(m_sim.Start());
        qputenv("KORU_COM1", QByteArray::fromStdString(m_sim.SlavePath()));
    }

    void programsTheSampleAndComesBackWithTheSettings() {
        auto program = std::make_unique<StartedWindow>();
        TestWindow& window = program->Start();
        QCOMPARE(window.FieldText(157), QString::fromUtf8(kNoPortText));

        program->Click(110);
        QCOMPARE(ProgrammerFoundFlag.load(), 1);
        QVERIFY(window.FieldText(157).startsWith(QString::fromUtf8(kProbeFoundText)));

        const QString sample = QStringLiteral(KORU_SOURCE_DIR "/samples/demo.hex");
        window.QueueFileAnswer(sample);
        program->Click(146);
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(window.FieldText(147), sample);
        QCOMPARE(CodeLoadedFlag.load(), 1);
        QCOMPARE(window.FieldText(129), QStringLiteral("0000"));
        QCOMPARE(window.FieldText(131), QStringLiteral("01FF"));

        program->Click(141);
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(window.FieldText(153).size(), 4);

        program->Click(136);
        QVERIFY(StartedWindow::WaitForThreads());
        for (const ShownBox& box : window.boxes) {
            qWarning() << box.caption << box.text;
        }
        QVERIFY(window.boxes.empty());
        QCOMPARE(window.FieldText(157), QString::fromUtf8(kAutoProgramDoneText));
        QCOMPARE(window.FieldText(179), QStringLiteral("000001"));
        QCOMPARE(window.FieldText(180), QStringLiteral("00000"));
        const std::vector<std::uint8_t> chip = m_sim.ChipContents();
        QVERIFY(chip.size() > sample::kSampleEnd);
        for (std::uint32_t address = 0; address <= sample::kSampleEnd; ++address) {
            QCOMPARE(chip[address], sample::SampleByte(address));
        }
        // The run's production record: the day file beside the settings holds this chip.
        const QDir records(m_config.path() + QStringLiteral("/lumatrix/production"));
        const QStringList days = records.entryList({QStringLiteral("*.jsonl")}, QDir::Files);
        QCOMPARE(days.size(), 1);
        QFile day(records.filePath(days.first()));
        QVERIFY(day.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = day.readAll().split('\n');
        QCOMPARE(lines.size(), 2);  // one record and the end of its line
        const QJsonObject record = QJsonDocument::fromJson(lines.first()).object();
        QCOMPARE(record.value("passed").toBool(), true);
        QCOMPARE(record.value("port").toString(), QStringLiteral("COM1"));
        QCOMPARE(record.value("file").toObject().value("path").toString(), sample);
        QCOMPARE(record.value("counters").toObject().value("success").toInt(), 1);

        // The operator changes two choices and closes the window with its close box.
        program->Click(122);  // "自动空检查" on
        program->Click(171);  // counters hidden
        program->Close();

        ResetProcessState();
        program = std::make_unique<StartedWindow>();
        TestWindow& again = program->Start();
        QVERIFY(again.IsMarked(110));
        QCOMPARE(ProgrammerFoundFlag.load(), 1);
        QVERIFY(again.FieldText(157).startsWith(QString::fromUtf8(kProbeFoundText)));
        QVERIFY(again.IsMarked(122));
        QVERIFY(again.IsMarked(115));
        QCOMPARE(AutoOptions.load() & kAutoBlankCheck, kAutoBlankCheck);
        // Counts and the counter group's visibility are not settings.
        QVERIFY(again.IsMarked(171));
        QCOMPARE(again.FieldText(179), QStringLiteral("00000"));
        QCOMPARE(SuccessCount.load(), 0u);
        program->Close();
    }

    void cleanupTestCase() { m_sim.Stop(); }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::OperatorTest)
#include "operator_test.moc"
