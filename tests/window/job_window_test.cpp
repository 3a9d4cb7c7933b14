// Production jobs in the started window on the simulated programmer: a job saved from the
// window, a locked job in operator mode, the checksum the operator must type, and a window whose
// set-up no longer is its job's.

#include <QFile>
#include <QMenu>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/shared_state.h"
#include "device/simulator.h"
#include "image/program_memory.h"
#include "operations/job_file.h"
#include "tests/support/hex_text.h"
#include "tests/support/process_state.h"
#include "tests/window/shell_fixture.h"
#include "window/programmer_dlg.h"
#include "window/station/station_window.h"
#include "window/window_job.h"

namespace koru::test {

class JobWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_config;
    QTemporaryDir m_state;
    device::Simulator m_sim;
    std::unique_ptr<StartedWindow> m_program;

    TestWindow& W() { return m_program->Window(); }

    void WriteCode(const QString& path, std::uint8_t fill) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        std::vector<std::uint8_t> bytes(0x40, fill);
        bytes[0] = 0x12;
        file.write(QByteArray::fromStdString(HexFileOf(bytes)));
    }

    // An engineer's job of code filled with 0x5A over 0000-003F, verify ticked; locked when
    // password is not empty.
    QString MakeJob(const QString& name, const QString& password,
                    const QString& quota = QString()) {
        const QString code = m_config.filePath(name + QStringLiteral(".hex"));
        const QString job = m_config.filePath(name + QStringLiteral(".korujob"));
        WriteCode(code, 0x5A);
        W().QueueFileAnswer(code);
        m_program->Click(146);
        StartedWindow::WaitForThreads();
        W().SetFieldText(131, QStringLiteral("003F"));
        m_program->Click(141);
        StartedWindow::WaitForThreads();
        W().SetMarked(121, true);
        W().jobSaveDialog = [&](JobSaveChoice& choice) {
            choice.name = name;
            choice.password = choice.repeated = password;
            choice.quota = quota;
            return true;
        };
        W().QueueFileAnswer(job);
        W().Job().SaveFromDialog();
        return job;
    }

    std::vector<nlohmann::json> Records() {
        std::vector<nlohmann::json> records;
        const std::filesystem::path folder = m_state.path().toStdString() + "/lumatrix/production";
        if (!std::filesystem::exists(folder)) {
            return records;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (entry.path().extension() != ".jsonl") {
                continue;  // a lot's page beside the day files
            }
            std::ifstream day(entry.path());
            for (std::string line; std::getline(day, line);) {
                records.push_back(nlohmann::json::parse(line));
            }
        }
        return records;
    }

    void TriggerMenuEntry(const char* text) {
        std::unique_ptr<QMenu> menu(W().CreateContextMenu());
        for (QAction* action : menu->actions()) {
            if (action->text() == QString::fromUtf8(text)) {
                action->trigger();
                return;
            }
        }
        QFAIL(text);
    }

    void Restart() {
        m_program.reset();  // its services go before the next window's come
        m_program = std::make_unique<StartedWindow>();
        m_program->Start();
        m_program->Click(110);
        QCOMPARE(ProgrammerFoundFlag.load(), 1);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_config.isValid() && m_state.isValid());
        UseTemporaryConfigFolder(m_config);
        qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
        QVERIFY(m_sim.Start());
        qputenv("KORU_COM1", QByteArray::fromStdString(m_sim.SlavePath()));
    }

    void init() {
        ResetProcessState();
        m_sim.SetChip(device::ChipKind::Mtp, 0x10000);
        Restart();
    }

    void cleanup() {
        m_program.reset();
        m_sim.ClearRecords();
    }

    void cleanupTestCase() { m_sim.Stop(); }

    // The engineer saves a locked job; the code file then changes on disk. The operator opens the
    // job: operator mode, the file, range, kind and step controls disabled, a wrong checksum
    // refused before any traffic, then two chips programmed with the job's bytes, recorded under
    // its checksum; leaving operator mode needs the password.
    void aLockedJobRunsInOperatorModeWithItsOwnImage() {
        const QString path = MakeJob(QStringLiteral("BOARD"), QStringLiteral("secret"));
        QVERIFY2(W().boxes.empty(), W().boxes.empty() ? "" : qPrintable(W().boxes[0].text));
        QVERIFY(W().Job().IsOpen());
        QVERIFY(!W().Job().InOperatorMode());  // the engineer who made it stays out of it
        const JobLoad load = LoadJobFile(path.toStdString());
        QVERIFY(load.job && load.job->lock);
        const QString shortChecksum = QString::fromStdString(load.checksum.substr(0, 8));
        WriteCode(m_config.filePath(QStringLiteral("BOARD.hex")), 0xA5);  // the file moves on

        Restart();  // the operator's window
        m_sim.ClearRecords();
        W().QueueFileAnswer(path);
        TriggerMenuEntry(kOpenJobEntryText);  // runs once the menu is gone
        QVERIFY(!W().Job().IsOpen());
        QTRY_VERIFY(W().Job().InOperatorMode());
        for (const int id : {146, 147, 148, 129, 131, 114, 115, 121, 122, 139, 143}) {
            QVERIFY2(!W().Control(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        for (const int id : {136, 137, 138, 172, 110}) {
            QVERIFY2(W().Control(id)->isEnabled(), qPrintable(QString::number(id)));
        }
        QVERIFY(W().windowTitle().contains(shortChecksum));
        QVERIFY(W().windowTitle().contains(QStringLiteral("BOARD")));

        W().QueueTextAnswer(QStringLiteral("00000000"));
        m_program->Click(136);
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(W().boxes.size(), std::size_t{1});
        QVERIFY2(W().boxes[0].text.contains(shortChecksum), qPrintable(W().boxes[0].text));
        QVERIFY(m_sim.Exchanges().empty());
        QCOMPARE(SuccessCount.load(), 0u);

        W().QueueTextAnswer(shortChecksum.toUpper());
        for (int chip = 0; chip < 2; ++chip) {
            m_sim.SetChip(device::ChipKind::Mtp, 0x10000);
            m_program->Click(136);
            QVERIFY(StartedWindow::WaitForThreads());
            const auto contents = m_sim.ChipContents();
            QCOMPARE(int(contents[0]), 0x12);
            QCOMPARE(int(contents[0x3F]), 0x5A);  // the job's image, not the changed file
        }
        QCOMPARE(W().questions.size(), std::size_t{2});  // asked once per job, not per chip
        QCOMPARE(SuccessCount.load(), 2u);
        QTRY_VERIFY2(W().windowTitle().contains(QStringLiteral(" 2")),
                     qPrintable(W().windowTitle()));
        int ofJob = 0;
        for (const nlohmann::json& record : Records()) {
            if (record.contains("job") && record["job"]["checksum"] == load.checksum) {
                ++ofJob;
                QVERIFY(record["passed"].get<bool>());
            }
        }
        QCOMPARE(ofJob, 2);
        W().grab().save(QStringLiteral("window_operator_mode.png"));

        W().QueueTextAnswer(QStringLiteral("wrong"));
        W().Job().LeaveOperatorMode();
        QVERIFY(W().Job().InOperatorMode());
        QVERIFY(!W().Control(146)->isEnabled());
        m_program->Click(146);                             // a disabled control: no file dialog
        QCOMPARE(W().fileFilters.size(), std::size_t{1});  // the job's own dialog only
        W().QueueTextAnswer(QStringLiteral("secret"));
        W().Job().LeaveOperatorMode();
        QVERIFY(!W().Job().InOperatorMode());
        QVERIFY(W().Control(146)->isEnabled());
        QVERIFY(W().Control(121)->isEnabled());
    }

    // An unlocked job whose window was changed (a step unticked) is closed at the next click and
    // that chip is not programmed: the run never goes out under a job it no longer is.
    void aChangedSetUpClosesTheJobBeforeAnyTraffic() {
        const QString path = MakeJob(QStringLiteral("OPEN"), QString());
        QVERIFY(W().Job().IsOpen());
        m_sim.ClearRecords();
        W().SetMarked(121, false);
        m_program->Click(136);
        QVERIFY(StartedWindow::WaitForThreads());
        QVERIFY(!W().Job().IsOpen());
        QCOMPARE(W().boxes.size(), std::size_t{1});
        QVERIFY(m_sim.Exchanges().empty());
        QVERIFY(W().questions.empty());  // an unlocked job asks for no checksum by default

        QVERIFY(W().Job().Open(path));
        QVERIFY(W().IsMarked(121));  // the job's ticks are back
        m_program->Click(136);
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(SuccessCount.load(), 1u);
    }

    // The station of an open job: the window gives its port to the sites, a site runs koru-cli
    // with the job (not the window's code file) and its chip's record carries the job. The
    // window takes no place in the lot for it: a quota of 1 is the site's chip.
    void theStationOfAnOpenJobProgramsTheJob() {
        const QString path = MakeJob(QStringLiteral("LINE"), QString(), QStringLiteral("1"));
        const JobLoad load = LoadJobFile(path.toStdString());
        QVERIFY(load.job);
        qputenv("KORU_CLI", KORU_CLI_PATH);
        StationWindow* station = W().OpenStation();
        QVERIFY(station != nullptr);
        QCOMPARE(W().FieldText(157), QString::fromUtf8(kPortToStationText));
        m_sim.SetChip(device::ChipKind::Mtp, 0x10000);
        QVERIFY(station->Tile(0).StartSite());  // COM1 only: the others map to no simulator
        QTRY_VERIFY_WITH_TIMEOUT(
            station->Tile(0).Driver().Snapshot().result == station::SiteResult::Passed, 60000);
        QCOMPARE(int(m_sim.ChipContents()[0x3F]), 0x5A);
        station->close();
        int ofJob = 0;
        for (const nlohmann::json& record : Records()) {
            ofJob += record.contains("job") && record["job"]["checksum"] == load.checksum;
        }
        QCOMPARE(ofJob, 1);
    }

#if KORU_WITH_LINEDB
    // A quota of 2: two chips pass and complete the lot (said in a box, counted in the line
    // database, shown in the title); the third is refused before any traffic.
    void aLotQuotaRefusesTheChipAfterItBeforeAnyTraffic() {
        qputenv("KORU_CLI", KORU_CLI_PATH);  // the lot's page is koru-cli's report
        MakeJob(QStringLiteral("QUOTA"), QString(), QStringLiteral("2"));
        QVERIFY(W().Job().IsOpen());
        for (int chip = 0; chip < 2; ++chip) {
            m_sim.SetChip(device::ChipKind::Mtp, 0x10000);
            m_program->Click(136);
            QVERIFY(StartedWindow::WaitForThreads());
        }
        QCOMPARE(SuccessCount.load(), 2u);
        QTRY_VERIFY2(W().windowTitle().contains(QStringLiteral(" 2/2")),
                     qPrintable(W().windowTitle()));
        QTRY_COMPARE(W().boxes.size(), std::size_t{1});
        QVERIFY2(W().boxes[0].text.startsWith(QString::fromUtf8(kLotCompleteText)),
                 qPrintable(W().boxes[0].text));
        const qsizetype at = W().boxes[0].text.indexOf(QStringLiteral("报告 "));
        QVERIFY2(at > 0, qPrintable(W().boxes[0].text));
        QFile page(W().boxes[0].text.mid(at + 3));
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
        QVERIFY(page.fileName().endsWith(QStringLiteral(".html")));
        QVERIFY(page.readAll().contains("QUOTA"));
        m_sim.ClearRecords();
        m_program->Click(136);
        QVERIFY(StartedWindow::WaitForThreads());
        QCOMPARE(W().boxes.size(), std::size_t{2});
        QVERIFY2(W().boxes[1].text.startsWith(QString::fromUtf8(kLotCompleteText)),
                 qPrintable(W().boxes[1].text));
        QVERIFY(m_sim.Exchanges().empty());
        QCOMPARE(SuccessCount.load(), 2u);
        int inLot = 0;
        for (const nlohmann::json& record : Records()) {
            inLot += record.value("lot", std::string()).rfind("QUOTA ", 0) == 0;
        }
        QCOMPARE(inLot, 2);
    }
#endif

    // A job file changed by hand is refused whole: nothing of it reaches the window.
    void anEditedJobFileIsRefusedWhole() {
        const QString path = MakeJob(QStringLiteral("EDIT"), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        const qsizetype end = text.indexOf("\"0003F\"");
        QVERIFY2(end > 0, text.constData());
        text.replace(end, 7, "\"0002F\"");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();

        Restart();
        QVERIFY(!W().Job().Open(path));
        QVERIFY(!W().Job().IsOpen());
        QCOMPARE(W().boxes.size(), std::size_t{1});
        QCOMPARE(W().FieldText(147), QString());
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::JobWindowTest)
#include "job_window_test.moc"
