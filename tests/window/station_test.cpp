// The station window offscreen with real koru-cli site processes against simulators on
// pseudo-terminals: a tile starts its own site only, a pulled programmer and a killed process
// show on their tiles while the others go on, the tiles count as the records do, and a picture
// of four sites in mixed states is saved under the build folder.

#include <unistd.h>

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "device/simulator.h"
#include "tests/support/child_processes.h"
#include "tests/support/hex_text.h"
#include "window/station/station_window.h"

namespace koru::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kChipMs = 30000;  // a generous bound for one chip

// The koru-cli process of port that is a child of this one, or -1.
pid_t SiteProcess(const std::string& port) {
    const std::vector<pid_t> found = ChildProcessesForPort(port, false);
    return found.empty() ? -1 : found.front();
}

}  // namespace

class StationTest : public QObject {
    Q_OBJECT

  private:
    fs::path m_folder;
    std::vector<std::unique_ptr<device::Simulator>> m_sims;

    device::Simulator& AddSimulator(bool paced, std::chrono::microseconds stepDelay = 1ms) {
        m_sims.push_back(std::make_unique<device::Simulator>());
        device::DeviceTiming timing;
        timing.paceLine = paced;
        timing.stepDelay = stepDelay;
        if (!m_sims.back()->Start(timing, paced)) {
            qWarning("no pseudo-terminal for a simulator");
        }
        m_sims.back()->SetChip(device::ChipKind::Mtp, 0x2000);
        return *m_sims.back();
    }

    StationSetup Setup() const {
        StationSetup setup;
        for (const auto& sim : m_sims) {
            setup.ports.push_back(sim->SlavePath());
        }
        setup.site.program = KORU_CLI_PATH;
        setup.site.args = {"--mtp",   "--verify",
                           "--log",   (m_folder / "records.jsonl").string(),
                           "program", (m_folder / "code.hex").string()};
        setup.site.environment = {"XDG_CONFIG_HOME=" + (m_folder / "config").string(),
                                  "XDG_STATE_HOME=" + (m_folder / "state").string()};
        return setup;
    }

    // "通过 P  失败 F" as the records of port say.
    QString RecordCounts(const std::string& port) const {
        std::ifstream file(m_folder / "records.jsonl");
        int passed = 0;
        int failed = 0;
        for (std::string line; std::getline(file, line);) {
            const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
            if (record.is_object() && record.value("port", "") == port) {
                (record.value("passed", false) ? passed : failed) += 1;
            }
        }
        return QStringLiteral("通过 %1  失败 %2").arg(passed).arg(failed);
    }

  private slots:
    void init() {
        char pattern[] = "/tmp/koru-station-XXXXXX";
        m_folder = mkdtemp(pattern);
        std::vector<std::uint8_t> code(0x400);
        for (std::size_t i = 0; i < code.size(); ++i) {
            code[i] = static_cast<std::uint8_t>(i * 3 + 7);
        }
        std::ofstream(m_folder / "code.hex", std::ios::binary) << HexFileOf(code);
    }

    void cleanup() {
        m_sims.clear();
        fs::remove_all(m_folder);
    }

    // koru --station's words: the ports, the code file and koru-cli's options for the run;
    // what would take a site's port or stream away from it is refused.
    void setupFromTheCommandLine() {
        const struct {
            std::vector<std::string> words;
            std::string error;  // empty: accepted
        } cases[] = {
            {{"--mtp"}, "needs --code FILE"},
            {{"--code"}, "--code needs a value"},
            {{"--code", "f.hex", "--port", "COM2"}, "--port is the station's own"},
            {{"--code", "f.hex", "--events=jsonl"}, "--events=jsonl is the station's own"},
            {{"--code", "f.hex", "--repeat"}, "--repeat is the station's own"},
            {{"--code", "f.hex", "--ports",
              std::string(33, ',') + "1,2,3,4,5,6,7,8,9,10,11,12,13,"
                                     "14,15,16,17"},
             "at most 16 sites"},
            {{"--code", "f.hex"}, ""},
        };
        for (const auto& c : cases) {
            StationSetup setup;
            std::string error;
            const bool made = StationSetupFromArguments(c.words, setup, error);
            QCOMPARE(made, c.error.empty());
            QVERIFY2(error.find(c.error) != std::string::npos, error.c_str());
        }
        StationSetup setup;
        std::string error;
        QVERIFY(StationSetupFromArguments(
            {"--ports", "COM3,,/dev/ttyUSB0", "--mtp", "--code", "f.hex", "--verify"}, setup,
            error));
        QCOMPARE(setup.ports, (std::vector<std::string>{"COM3", "/dev/ttyUSB0"}));
        QCOMPARE(setup.site.args,
                 (std::vector<std::string>{"--mtp", "--verify", "program", "f.hex"}));
        QVERIFY(StationSetupFromArguments({"--code", "f.hex"}, setup, error));
        QCOMPARE(setup.ports, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
    }

    // Site 2 by its key: only its programmer hears anything. Then all at once, with the first
    // Past ten sites the keys go on along the row below the digits: W starts the twelfth.
    void theRowBelowTheDigitsStartsSitesElevenToSixteen() {
        AddSimulator(true);
        StationSetup setup = Setup();
        const std::string twelfth = setup.ports[0];
        setup.ports.clear();
        for (int i = 1; i <= 11; ++i) {
            setup.ports.push_back((m_folder / ("no-port-" + std::to_string(i))).string());
        }
        setup.ports.push_back(twelfth);
        StationWindow window(setup);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::keyClick(&window, Qt::Key_W);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(11).ResultText(), QStringLiteral("通过"), kChipMs);
        for (int i = 0; i < 11; ++i) {
            QCOMPARE(window.Tile(i).Driver().Snapshot().state, SiteState::Stopped);
        }
    }

    // programmer pulled mid-chip: its tile says the link was lost, the others pass, a running
    // site does not start twice, and every tile counts as its records do.
    void startsOnItsOwnAndAPulledSiteShowsLinkLost() {
        for (int i = 0; i < 3; ++i) {
            AddSimulator(true);
        }
        StationWindow window(Setup());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.SiteCount(), 3);

        QTest::keyClick(&window, Qt::Key_2);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(1).ResultText(), QStringLiteral("通过"), kChipMs);
        QVERIFY(m_sims[0]->Exchanges().empty());
        QVERIFY(m_sims[2]->Exchanges().empty());
        QCOMPARE(window.Tile(0).ResultText(), QStringLiteral("—"));

        QCOMPARE(window.StartAll(), 3);
        QVERIFY(!window.Tile(2).StartSite());  // running: not twice
        QVERIFY(QTest::qWaitFor(
            [&] { return window.Tile(0).Driver().Snapshot().step == "program"; }, kChipMs));
        m_sims[0]->HangUp();
        QTRY_VERIFY_WITH_TIMEOUT(window.Tile(0).ResultText().startsWith(QStringLiteral("连接断开")),
                                 kChipMs);
        for (int i = 1; i < 3; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(window.Tile(i).StateText(), QStringLiteral("就绪"), kChipMs);
            QCOMPARE(window.Tile(i).ResultText(), QStringLiteral("通过"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(0).StateText(), QStringLiteral("就绪"), kChipMs);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(window.Tile(i).CountsText(), RecordCounts(m_sims[i]->SlavePath()));
        }
        QCOMPARE(window.Tile(1).CountsText(), QStringLiteral("通过 2  失败 0"));
        QCOMPARE(window.Tile(0).CountsText(), QStringLiteral("通过 0  失败 1"));
    }

    // A site process killed in the middle of a chip: its tile says so, the other site goes on,
    // and the site starts again.
    void aKilledSiteShowsItAndStartsAgain() {
        device::Simulator& victim = AddSimulator(true, 200ms);
        AddSimulator(true);
        StationWindow window(Setup());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.StartAll(), 2);
        QVERIFY(QTest::qWaitFor([&] { return window.Tile(0).Driver().Snapshot().step == "verify"; },
                                kChipMs));
        const pid_t site = SiteProcess(victim.SlavePath());
        QVERIFY(site > 0);
        kill(site, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(window.Tile(0).ResultText().startsWith(QStringLiteral("进程中断")),
                                 kChipMs);
        QCOMPARE(window.Tile(0).StateText(), QStringLiteral("空闲"));
        QCOMPARE(window.Tile(0).CountsText(), QStringLiteral("通过 0  失败 1"));
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(1).ResultText(), QStringLiteral("通过"), kChipMs);
        // The programmer finishes the verify it was left in (four steps of 200 ms) first.
        QTest::qWait(1500);
        QTest::keyClick(&window, Qt::Key_1);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(0).ResultText(), QStringLiteral("通过"), kChipMs);
        QCOMPARE(window.Tile(0).CountsText(), QStringLiteral("通过 1  失败 1"));
    }

    // Four sites: passed, chip failed in verify, running and idle; the picture goes to the
    // build folder as station.png.
    void pictureOfFourSitesInMixedStates() {
        AddSimulator(false);
        device::Simulator& failing = AddSimulator(false);
        device::CommandScript wrongSum;
        wrongSum.sum = device::SumFault::Wrong;
        failing.Script(device::kCodeChecksum, wrongSum);
        AddSimulator(true, 500ms);  // its verify takes a while: it is seen running
        AddSimulator(false);
        StationWindow window(Setup());
        window.resize(1000, 420);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::keyClick(&window, Qt::Key_1);
        QTest::keyClick(&window, Qt::Key_2);
        QTest::keyClick(&window, Qt::Key_3);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(0).ResultText(), QStringLiteral("通过"), kChipMs);
        QTRY_COMPARE_WITH_TIMEOUT(window.Tile(1).ResultText(), QStringLiteral("芯片失败\nverify"),
                                  kChipMs);
        // Caught in its verify, and drawn as it stands then.
        QVERIFY(QTest::qWaitFor([&] { return window.Tile(2).Driver().Snapshot().step == "verify"; },
                                kChipMs));
        window.Tile(2).Refresh();
        QCOMPARE(window.Tile(2).StateText(), QStringLiteral("运行中"));
        QCOMPARE(window.Tile(3).StateText(), QStringLiteral("空闲"));
        const QString path = QDir(QStringLiteral(KORU_BUILD_DIR)).filePath("station.png");
        QVERIFY(window.grab().save(path));
        QVERIFY(QFileInfo(path).size() > 0);
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::StationTest)
#include "station_test.moc"
