#pragma once

// The station: a window of its own with one tile per programmer of the line. Each tile is a
// site driven through its own koru-cli process (station/site_driver.h) and starts on its own:
// its button or its number key (1-9, 0 for the tenth); "全部开始" starts every idle site. The
// window only reads the sites' snapshots, on its own thread, when a site says it changed.

#include <QFrame>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "station/site_driver.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace koru {

using station::SiteDriver;
using station::SiteResult;
using station::SiteSetup;
using station::SiteSnapshot;
using station::SiteState;
using station::StopReport;

inline constexpr int kStationMaxSites = 16;
inline constexpr char kStationTitle[] = "KORU 工作站";
inline constexpr char kStartAllText[] = "全部开始";
inline constexpr char kStartText[] = "开始";
inline constexpr char kStationEntryText[] = "工作站…";            // the main window's context menu
inline constexpr char kPortToStationText[] = "端口已交给工作站";  // the main window's status

struct StationSetup {
    std::vector<std::string> ports;  // at most kStationMaxSites
    SiteSetup site;                  // what every site runs
};

// What a tile says for a result and a state ("通过", "芯片失败", "无应答", "连接断开", ...).
QString SiteResultText(SiteResult result);
QString SiteStateText(SiteState state);

class SiteTile : public QFrame {
    Q_OBJECT

  public:
    SiteTile(int number, std::unique_ptr<SiteDriver> driver, QWidget* parent = nullptr);
    ~SiteTile() override;

    SiteDriver& Driver() { return *m_driver; }
    // Starts the site's next chip; false (and the reason on the tile) when it cannot start.
    bool StartSite();
    // The texts the tile shows now (for tests and people alike).
    QString ResultText() const;
    QString CountsText() const;
    QString StateText() const;

  public slots:
    void Refresh();

  private:
    int m_number = 0;
    std::unique_ptr<SiteDriver> m_driver;
    QLabel* m_port = nullptr;
    QLabel* m_state = nullptr;
    QLabel* m_step = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_result = nullptr;
    QLabel* m_serial = nullptr;
    QLabel* m_counts = nullptr;
    QPushButton* m_start = nullptr;
};

class StationWindow : public QWidget {
    Q_OBJECT

  public:
    explicit StationWindow(StationSetup setup, QWidget* parent = nullptr);
    ~StationWindow() override;

    int SiteCount() const { return static_cast<int>(m_tiles.size()); }
    SiteTile& Tile(int index) { return *m_tiles.at(static_cast<std::size_t>(index)); }
    // Starts every site that is idle; returns how many started.
    int StartAll();
    // Ends every site (cooperatively, bounded); the ports that had to be ended mid-data.
    std::vector<std::string> StopAll();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    std::vector<SiteTile*> m_tiles;
    QLabel* m_totals = nullptr;
    bool m_stopped = false;

  private slots:
    void RefreshTotals();
};

// The station's setup from a command line's words after --station: "--ports A,B,...",
// "--code FILE" and koru-cli's own options for the run; the ports default to COM1..COM4.
// False with the reason when the words do not make a station.
bool StationSetupFromArguments(const std::vector<std::string>& words, StationSetup& setup,
                               std::string& error);

// The station of the main window's set-up: COM1..COM4, its chip kind, its marked steps, its
// range and mode, and its code file. Call it on the window's thread.
StationSetup StationSetupFromWindow();
// The station of an open job: every site runs koru-cli --job with the job's whole checksum, so
// each process checks the file it reads against the job the window confirmed.
StationSetup StationSetupForJob(const std::string& jobPath, const std::string& checksum);

// The koru-cli beside this program (KORU_CLI in the environment overrides it).
std::string StationCliPath();

}  // namespace koru
