#pragma once

// SetCount: the counter settings dialog (template 101). It shows the two count texts and the
// six failure-counting choices; after OK the caller reads them back.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <map>

class QAbstractButton;
class QLineEdit;

namespace koru {

// The counter settings as the dialog shows and returns them.
struct CounterSettings {
    QString successText;
    QString failureText;
    std::uint32_t flags = 0;  // autocount bits
};

class SetCount : public QDialog {
    Q_OBJECT

  public:
    SetCount(QWidget* parent, const CounterSettings& settings);

    // The texts and the flags word as the dialog's OK read them.
    const CounterSettings& Settings() const { return m_settings; }

    // Controls by their template id (1, 2, 1000..1007); nullptr for others.
    QWidget* Control(int id) const;

    void accept() override;

  private:
    CounterSettings m_settings;
    std::map<int, QWidget*> m_controls;
};

// The autocount bits the dialog shows: one check box each.
inline constexpr std::uint32_t kCounterDialogFlags = 0x3F;

// The autocount bit of a check box of the dialog; 0 for any other id.
std::uint32_t CounterDialogBit(int id);

}  // namespace koru
