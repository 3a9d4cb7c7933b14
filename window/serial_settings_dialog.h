#pragma once

// "序列号设置…": choose the serial job of the next runs (or none), see the chosen job's next
// value and counts (spent, passed, failed, left), and define a counter job.

#include <QDialog>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace koru {

class LineDatabase;

inline constexpr char kSerialNoJobText[] = "无";

class SerialSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    // database: the line database's name; chosen: the job chosen now (empty: none).
    SerialSettingsDialog(QWidget* parent, const std::string& database, const std::string& chosen);
    ~SerialSettingsDialog() override;

    // The job chosen in the list; empty for none.
    std::string ChosenJob() const;

    QComboBox* JobList() const { return m_jobs; }
    QLabel* Counts() const { return m_counts; }
    QLineEdit* NameEdit() const { return m_name; }
    QLineEdit* AddressEdit() const { return m_address; }
    QSpinBox* SizeBox() const { return m_size; }
    QComboBox* FormatList() const { return m_format; }
    QLineEdit* StartEdit() const { return m_start; }
    QLineEdit* StepEdit() const { return m_step; }
    QLineEdit* LastEdit() const { return m_last; }

    // Defines the counter job of the fields and chooses it; false with the reason shown.
    bool DefineCounter();

  private:
    void FillJobs(const std::string& select);
    void ShowCounts();

    std::unique_ptr<LineDatabase> m_database;
    QComboBox* m_jobs = nullptr;
    QLabel* m_counts = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_address = nullptr;
    QSpinBox* m_size = nullptr;
    QComboBox* m_format = nullptr;
    QLineEdit* m_start = nullptr;
    QLineEdit* m_step = nullptr;
    QLineEdit* m_last = nullptr;
};

}  // namespace koru
