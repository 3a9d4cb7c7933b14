#pragma once

// The dialog of "保存为作业…": the job's name, a description, the lot quota and an optional
// password (typed twice) that keeps operator mode closed.

#include <QDialog>

#include "window/window_job.h"

class QLineEdit;

namespace koru {

class JobSaveDialog : public QDialog {
    Q_OBJECT

  public:
    JobSaveDialog(QWidget* parent, const JobSaveChoice& start);
    JobSaveChoice Choice() const;

  private:
    QLineEdit* m_name;
    QLineEdit* m_description;
    QLineEdit* m_quota;
    QLineEdit* m_password;
    QLineEdit* m_repeated;
};

}  // namespace koru
