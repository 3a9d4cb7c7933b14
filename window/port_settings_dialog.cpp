#include "window/port_settings_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/settings_words.h"
#include "platform/settings_store.h"

namespace koru {
namespace {

constexpr char kTitle[] = "端口设置";
constexpr char kUseText[] = "选用";
constexpr char kDevicesText[] = "检测到的串口设备:";
constexpr char kHintText[] =
    "空白表示默认设备。更改在下次选择端口时生效;环境变量 KORU_COMn 仍优先。";
constexpr const char* kColumns[] = {"设备", "固定名称 (by-id)", "USB 描述"};

QString UsbText(const DetectedPort& port) {
    if (!port.usb) {
        return {};
    }
    const UsbDescription& usb = *port.usb;
    QString text = QString::fromStdString(usb.vendorId + ":" + usb.productId);
    for (const std::string& part : {usb.manufacturer, usb.product}) {
        if (!part.empty()) {
            text += u' ' + QString::fromStdString(part);
        }
    }
    if (!usb.serial.empty()) {
        text += QString::fromUtf8(" 序列号 ") + QString::fromStdString(usb.serial);
    }
    return text;
}

}  // namespace

PortSettingsDialog::PortSettingsDialog(QWidget* parent, std::vector<DetectedPort> ports)
    : QDialog(parent), m_ports(std::move(ports)) {
    setWindowTitle(QString::fromUtf8(kTitle));
    auto* layout = new QVBoxLayout(this);

    auto* grid = new QGridLayout;
    for (int number = 1; number <= kComPortCount; ++number) {
        const int row = number - 1;
        grid->addWidget(new QLabel(QStringLiteral("COM%1").arg(number), this), row, 0);
        auto* path = new QLineEdit(QString::fromStdString(ComMapping(number)), this);
        path->setPlaceholderText(QString::fromStdString(DefaultComDevice(number)));
        path->setMinimumWidth(360);
        m_paths[static_cast<std::size_t>(row)] = path;
        grid->addWidget(path, row, 1);
        auto* use = new QPushButton(QString::fromUtf8(kUseText), this);
        connect(use, &QPushButton::clicked, this, [this, number] { UseSelectedDeviceFor(number); });
        grid->addWidget(use, row, 2);
    }
    layout->addLayout(grid);

    layout->addWidget(new QLabel(QString::fromUtf8(kDevicesText), this));
    m_devices = new QTableWidget(static_cast<int>(m_ports.size()), std::size(kColumns), this);
    QStringList headers;
    for (const char* column : kColumns) {
        headers << QString::fromUtf8(column);
    }
    m_devices->setHorizontalHeaderLabels(headers);
    m_devices->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_devices->setSelectionMode(QAbstractItemView::SingleSelection);
    m_devices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_devices->verticalHeader()->hide();
    for (int row = 0; row < static_cast<int>(m_ports.size()); ++row) {
        const DetectedPort& port = m_ports[static_cast<std::size_t>(row)];
        m_devices->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(port.device)));
        m_devices->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(port.byId)));
        m_devices->setItem(row, 2, new QTableWidgetItem(UsbText(port)));
    }
    m_devices->resizeColumnsToContents();
    layout->addWidget(m_devices);

    auto* hint = new QLabel(QString::fromUtf8(kHintText), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PortSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PortSettingsDialog::reject);
    layout->addWidget(buttons);
}

void PortSettingsDialog::UseSelectedDeviceFor(int number) {
    const int row = m_devices->currentRow();
    if (row < 0 || row >= static_cast<int>(m_ports.size()) || number < 1 ||
        number > kComPortCount) {
        return;
    }
    PathEdit(number)->setText(
        QString::fromStdString(PreferredPath(m_ports[static_cast<std::size_t>(row)])));
}

void PortSettingsDialog::accept() {
    for (int number = 1; number <= kComPortCount; ++number) {
        SetComMapping(number, PathEdit(number)->text().trimmed().toStdString());
    }
    // Saved now, beside the values of others under the key, so koru-cli sees it at once.
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();
    StoreComMappings(store);
    store.Save();
    QDialog::accept();
}

void ShowPortSettings(QWidget* parent) {
    PortSettingsDialog dialog(parent, ListSerialPorts());
    dialog.exec();
}

}  // namespace koru
