#include "window/station/station_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <future>

#include "core/services.h"

namespace koru {
namespace {

constexpr int kColumns = 4;
constexpr int kResultPointSize = 20;
constexpr int kTileWidth = 240;
constexpr int kTotalsPeriodMs = 250;
constexpr int kProgressScale = 1000;  // the bar's steps

struct ResultLook {
    SiteResult result;
    const char* text;
    const char* colour;  // the result's background
};

constexpr ResultLook kResultLooks[] = {
    {SiteResult::None, "—", "#d0d0d0"},
    {SiteResult::Passed, "通过", "#3cb043"},
    {SiteResult::ChipFailed, "芯片失败", "#d9302c"},
    {SiteResult::NoAnswer, "无应答", "#f0a020"},
    {SiteResult::LinkLost, "连接断开", "#f0a020"},
    {SiteResult::Refused, "拒绝运行", "#8a8a8a"},
    {SiteResult::ProcessEnded, "进程中断", "#a03cc0"},
    {SiteResult::ProcessHung, "进程无响应", "#a03cc0"},
};

const ResultLook& LookOf(SiteResult result) {
    for (const ResultLook& look : kResultLooks) {
        if (look.result == result) {
            return look;
        }
    }
    return kResultLooks[0];
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The number key of a site (1-9, then 0 for the tenth); none past the tenth.
// The keys that start sites 1 to 16: the digits row (1-9, then 0), then the row below it.
constexpr Qt::Key kSiteKeys[kStationMaxSites] = {
    Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5, Qt::Key_6, Qt::Key_7, Qt::Key_8,
    Qt::Key_9, Qt::Key_0, Qt::Key_Q, Qt::Key_W, Qt::Key_E, Qt::Key_R, Qt::Key_T, Qt::Key_Y};

QString KeyName(int number) {
    return number >= 1 && number <= kStationMaxSites
               ? QKeySequence(kSiteKeys[number - 1]).toString()
               : QString();
}

// The site (from 0) that key starts; -1 for none.
int SiteOfKey(int key) {
    for (int index = 0; index < kStationMaxSites; ++index) {
        if (kSiteKeys[index] == key) {
            return index;
        }
    }
    return -1;
}

}  // namespace

QString SiteResultText(SiteResult result) {
    return QString::fromUtf8(LookOf(result).text);
}

QString SiteStateText(SiteState state) {
    switch (state) {
        case SiteState::Stopped:
            return QStringLiteral("空闲");
        case SiteState::Running:
            return QStringLiteral("运行中");
        case SiteState::Finishing:
            return QStringLiteral("结束中");
        case SiteState::Ready:
            return QStringLiteral("就绪");
    }
    return {};
}

SiteTile::SiteTile(int number, std::unique_ptr<SiteDriver> driver, QWidget* parent)
    : QFrame(parent), m_number(number), m_driver(std::move(driver)) {
    setFrameShape(QFrame::StyledPanel);
    setMinimumWidth(kTileWidth);
    auto* layout = new QVBoxLayout(this);
    const QString key = KeyName(number);
    m_port = new QLabel(QStringLiteral("%1  %2").arg(number).arg(Utf8(m_driver->Port())), this);
    QFont bold = m_port->font();
    bold.setBold(true);
    m_port->setFont(bold);
    m_state = new QLabel(this);
    m_step = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, kProgressScale);
    m_result = new QLabel(this);
    m_result->setAlignment(Qt::AlignCenter);
    QFont large = m_result->font();
    large.setPointSize(kResultPointSize);
    large.setBold(true);
    m_result->setFont(large);
    m_result->setAutoFillBackground(true);
    m_result->setWordWrap(true);
    m_serial = new QLabel(this);
    m_counts = new QLabel(this);
    m_start = new QPushButton(
        key.isEmpty() ? QString::fromUtf8(kStartText)
                      : QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kStartText), key),
        this);
    m_start->setFocusPolicy(Qt::NoFocus);  // the number keys belong to the window
    for (QWidget* widget : std::initializer_list<QWidget*>{m_port, m_state, m_step, m_progress,
                                                           m_result, m_serial, m_counts, m_start}) {
        layout->addWidget(widget);
    }
    connect(m_start, &QPushButton::clicked, this, [this] { StartSite(); });
    Refresh();
}

SiteTile::~SiteTile() {
    // The driver's thread posts refreshes to this tile: it ends before the tile goes.
    m_driver.reset();
}

bool SiteTile::StartSite() {
    std::string error;
    if (!m_driver->Start(error)) {
        m_state->setText(Utf8(error));
        return false;
    }
    Refresh();
    return true;
}

QString SiteTile::StateText() const {
    return m_state->text();
}

QString SiteTile::ResultText() const {
    return m_result->text();
}

QString SiteTile::CountsText() const {
    return m_counts->text();
}

void SiteTile::Refresh() {
    const SiteSnapshot site = m_driver->Snapshot();
    m_state->setText(SiteStateText(site.state));
    m_step->setText(site.step.empty() ? QString() : Utf8(site.step));
    const bool measured = site.total > 0;
    m_progress->setValue(
        measured ? static_cast<int>(std::min(site.done, site.total) * kProgressScale / site.total)
                 : 0);
    const ResultLook& look = LookOf(site.result);
    QString result = QString::fromUtf8(look.text);
    if (site.result != SiteResult::Passed && site.result != SiteResult::None &&
        !site.failedStep.empty()) {
        result += QStringLiteral("\n") + Utf8(site.failedStep);
    }
    m_result->setText(result);
    m_result->setToolTip(Utf8(site.text));
    m_result->setStyleSheet(
        QStringLiteral("background-color: %1; color: white;").arg(QString::fromUtf8(look.colour)));
    m_serial->setText(site.serial.empty() ? QString()
                                          : QStringLiteral("序列号 ") + Utf8(site.serial));
    m_counts->setText(QStringLiteral("通过 %1  失败 %2").arg(site.passed).arg(site.failed));
    const bool busy = site.state == SiteState::Running || site.state == SiteState::Finishing;
    m_start->setEnabled(!busy);
}

StationWindow::StationWindow(StationSetup setup, QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QString::fromUtf8(kStationTitle));
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    const std::size_t count =
        std::min(setup.ports.size(), static_cast<std::size_t>(kStationMaxSites));
    for (std::size_t i = 0; i < count; ++i) {
        auto driver = std::make_unique<SiteDriver>(setup.ports[i], setup.site);
        auto* tile = new SiteTile(static_cast<int>(i) + 1, std::move(driver), this);
        m_tiles.push_back(tile);
        grid->addWidget(tile, static_cast<int>(i) / kColumns, static_cast<int>(i) % kColumns);
    }
    auto* bottom = new QHBoxLayout;
    m_totals = new QLabel(this);
    auto* startAll = new QPushButton(QString::fromUtf8(kStartAllText), this);
    startAll->setFocusPolicy(Qt::NoFocus);
    bottom->addWidget(m_totals, 1);
    bottom->addWidget(startAll);
    outer->addLayout(bottom);
    connect(startAll, &QPushButton::clicked, this, [this] { StartAll(); });
    // The tiles follow their sites a few times a second: a site's thread never waits for the
    // window, and a burst of events costs one repaint.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &StationWindow::RefreshTotals);
    timer->start(kTotalsPeriodMs);
    RefreshTotals();
}

StationWindow::~StationWindow() {
    StopAll();
}

int StationWindow::StartAll() {
    int started = 0;
    for (SiteTile* tile : m_tiles) {
        const SiteState state = tile->Driver().Snapshot().state;
        if ((state == SiteState::Stopped || state == SiteState::Ready) && tile->StartSite()) {
            ++started;
        }
    }
    return started;
}

std::vector<std::string> StationWindow::StopAll() {
    std::vector<std::string> cut;
    if (m_stopped) {
        return cut;
    }
    m_stopped = true;
    // All at once: a site finishing its chip holds up none of the others, and the wait is one
    // grace time at most, however many sites there are.
    std::vector<std::future<StopReport>> reports;
    for (SiteTile* tile : m_tiles) {
        SiteDriver* driver = &tile->Driver();
        reports.push_back(std::async(std::launch::async, [driver] { return driver->Stop(); }));
    }
    for (std::size_t i = 0; i < m_tiles.size(); ++i) {
        const StopReport report = reports[i].get();
        if (report.midData) {
            cut.push_back(m_tiles[i]->Driver().Port() + " (" + report.step + ")");
        }
        m_tiles[i]->Refresh();
    }
    return cut;
}

void StationWindow::RefreshTotals() {
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    SiteSnapshot lot;  // the lot's count is shared: the highest any site heard is the newest
    for (SiteTile* tile : m_tiles) {
        tile->Refresh();
        const SiteSnapshot site = tile->Driver().Snapshot();
        passed += site.passed;
        failed += site.failed;
        if (!site.lot.empty() && site.lotPassed >= lot.lotPassed) {
            lot = site;
        }
    }
    const std::uint64_t all = passed + failed;
    QString text =
        QStringLiteral("合计: 通过 %1  失败 %2  良率 %3%")
            .arg(passed)
            .arg(failed)
            .arg(all == 0 ? 0.0 : 100.0 * static_cast<double>(passed) / static_cast<double>(all), 0,
                 'f', 1);
    if (!lot.lot.empty()) {
        text += QStringLiteral("    本批 %1: %2/%3")
                    .arg(QString::fromStdString(lot.lot))
                    .arg(lot.lotPassed)
                    .arg(lot.lotQuota);
    }
    m_totals->setText(text);
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
    const int index =
        event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier
            ? SiteOfKey(event->key())
            : -1;
    if (index >= 0 && index < SiteCount()) {
        m_tiles[static_cast<std::size_t>(index)]->StartSite();
        return;
    }
    QWidget::keyPressEvent(event);
}

void StationWindow::closeEvent(QCloseEvent* event) {
    const std::vector<std::string> cut = StopAll();
    if (!cut.empty()) {
        QString ports;
        for (const std::string& port : cut) {
            ports += QStringLiteral("\n") + Utf8(port);
        }
        QMessageBox::warning(this, QString::fromUtf8(kStationTitle),
                             QStringLiteral("以下站点在写入芯片时被中止，芯片需重新编程:") + ports);
    }
    event->accept();
}

bool StationSetupFromArguments(const std::vector<std::string>& words, StationSetup& setup,
                               std::string& error) {
    std::string code;
    std::vector<std::string> ports;
    std::vector<std::string> args;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if ((word == "--ports" || word == "--code") && i + 1 >= words.size()) {
            error = word + " needs a value";
            return false;
        }
        if (word == "--ports") {
            const std::string& list = words[++i];
            std::size_t begin = 0;
            while (begin <= list.size()) {
                const std::size_t comma = std::min(list.find(',', begin), list.size());
                if (comma > begin) {
                    ports.push_back(list.substr(begin, comma - begin));
                }
                begin = comma + 1;
            }
        } else if (word == "--code") {
            code = words[++i];
        } else if (word == "--port" || word.rfind("--port=", 0) == 0 || word == "--events" ||
                   word.rfind("--events=", 0) == 0 || word == "--repeat") {
            // Each site's run has its own port and runs with the event stream, chip after chip.
            error = word + " is the station's own: give the ports with --ports";
            return false;
        } else {
            args.push_back(word);
        }
    }
    if (code.empty()) {
        error = "the station needs --code FILE: the code file every site programs";
        return false;
    }
    if (ports.empty()) {
        ports = {"COM1", "COM2", "COM3", "COM4"};
    }
    if (ports.size() > static_cast<std::size_t>(kStationMaxSites)) {
        error = "a station has at most " + std::to_string(kStationMaxSites) + " sites";
        return false;
    }
    setup.ports = ports;
    setup.site.args = args;
    setup.site.args.push_back("program");
    setup.site.args.push_back(code);
    if (setup.site.program.empty()) {
        setup.site.program = StationCliPath();
    }
    return true;
}

StationSetup StationSetupFromWindow() {
    StationSetup setup;
    setup.ports = {"COM1", "COM2", "COM3", "COM4"};
    setup.site.program = StationCliPath();
    WindowServices& window = Window();
    setup.site.args.push_back(window.GetChoice(Choice::SerialOtp).marked ? "--otp" : "--mtp");
    const std::pair<Choice, const char*> steps[] = {
        {Choice::AutoBlankCheck, "--blank-check"}, {Choice::AutoEraseMtp, "--erase"},
        {Choice::AutoVerify, "--verify"},          {Choice::AutoSmart, "--smart"},
        {Choice::AutoLdcProtect, "--ldc-protect"}, {Choice::AutoReadProtect, "--read-protect"},
        {Choice::AutoHwProtect, "--hw-protect"},
    };
    for (const auto& [choice, option] : steps) {
        const ChoiceState state = window.GetChoice(choice);
        if (state.marked && state.available) {
            setup.site.args.push_back(option);
        }
    }
    // The range and the mode as the window shows them: a site never programs another range.
    setup.site.args.push_back("--range");
    setup.site.args.push_back(window.ReadField(TextField::StartAddress) + "-" +
                              window.ReadField(TextField::EndAddress));
    setup.site.args.push_back(window.GetChoice(Choice::FastMode).marked ? "--fast" : "--slow");
    setup.site.args.push_back("program");
    setup.site.args.push_back(window.ReadField(TextField::CodeFileName));
    return setup;
}

StationSetup StationSetupForJob(const std::string& jobPath, const std::string& checksum) {
    StationSetup setup;
    setup.ports = {"COM1", "COM2", "COM3", "COM4"};
    setup.site.program = StationCliPath();
    setup.site.args = {"--job", jobPath, "--confirm", checksum, "program"};
    return setup;
}

std::string StationCliPath() {
    const QByteArray chosen = qgetenv("KORU_CLI");
    if (!chosen.isEmpty()) {
        return chosen.toStdString();
    }
    const QDir here(QCoreApplication::applicationDirPath());
#ifdef _WIN32
    const QString name = QStringLiteral("koru-cli.exe");
#else
    const QString name = QStringLiteral("koru-cli");
#endif
    // Installed beside the program; in the build tree in cli/ beside app/.
    for (const QString& candidate :
         {here.filePath(name), here.filePath(QStringLiteral("../cli/") + name)}) {
        if (QFileInfo(candidate).isExecutable()) {
            return QDir::cleanPath(candidate).toStdString();
        }
    }
    return here.filePath(name).toStdString();
}

}  // namespace koru
