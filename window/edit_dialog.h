#pragma once

// EditDialog: the cell editor. It shows the cell's address and value and lets the operator type
// a new value into a hexadecimal-only field (a CMyedit with id 500).

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace koru {

class CMyedit;

inline constexpr int kIdCellValueEdit = 500;

class EditDialog : public QDialog {
    Q_OBJECT

  public:
    EditDialog(QWidget* parent, const QString& value, const QString& address);

    // The value text: the cell's text going in, the edited text after OK (at most 99
    // characters); unchanged after Cancel.
    const QString& Value() const { return m_value; }

    CMyedit* ValueEdit() const { return m_edit; }
    QLabel* Prompt() const { return m_prompt; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

  public slots:
    void accept() override;

  private:
    QString m_value;
    CMyedit* m_edit = nullptr;
    QLabel* m_prompt = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace koru
