#pragma once

// "端口设置…": which device each of COM1..COM4 stands for. It shows the four names with the
// device each maps to and the serial devices present with their USB descriptions; a device
// chosen from the list goes in by its stable by-id path where it has one. OK stores the mapping
// with the other settings at once; it takes effect at the next port selection.

#include <QDialog>
#include <array>
#include <vector>

#include "platform/com_ports.h"
#include "platform/port_list.h"

class QLineEdit;
class QTableWidget;

namespace koru {

inline constexpr char kPortSettingsEntryText[] = "端口设置…";

class PortSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    PortSettingsDialog(QWidget* parent, std::vector<DetectedPort> ports);

    // The path field of COMnumber (1..4), and the list of detected devices.
    QLineEdit* PathEdit(int number) const { return m_paths.at(number - 1); }
    QTableWidget* DeviceList() const { return m_devices; }
    // Puts the device selected in the list into COMnumber's field; nothing when none is selected.
    void UseSelectedDeviceFor(int number);

    // Takes the four fields as the mapping (an empty field: the default device) and saves it.
    void accept() override;

  private:
    std::vector<DetectedPort> m_ports;
    std::array<QLineEdit*, kComPortCount> m_paths{};
    QTableWidget* m_devices = nullptr;
};

// Runs the dialog modally over parent with the devices present now.
void ShowPortSettings(QWidget* parent);

}  // namespace koru
