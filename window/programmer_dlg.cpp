#include "window/programmer_dlg.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QTableWidget>

#include "controls/cmyedit.h"
#include "controls/cmygrp.h"
#include "controls/cmystatic.h"
#include "controls/control_ids.h"
#include "core/shared_state.h"
#include "image/memory_view.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/production_recorder.h"
#include "resources/dialog_texts.h"
#include "window/edit_dialog.h"
#include "window/memory_page_list.h"
#include "window/window_serial.h"

namespace koru {
namespace {

// Client size of the window: 419 x 293 dialog units of its 8-point dialog font.
constexpr int kClientWidth = 629;
constexpr int kClientHeight = 476;
// The caption bar and top frame the window region was designed with: the region's height
// less this is the client height that stays visible.
constexpr int kDesignCaptionHeight = 22;
constexpr int kTickMs = 1000;  // both timers tick once a second

// Memory list geometry.
constexpr int kListAddressColumnWidth = 45;
constexpr int kListByteColumnWidth = 26;
constexpr int kListColumns = 17;
constexpr int kListPageRows = MemoryPageList::kPageRows;
constexpr int kListRows = 17 * 16;
constexpr int kListHeaderPadding = 6;

const QColor kLinkPressedColour{255, 0, 0};
const QColor kLinkColour{0, 0, 255};
const QColor kMemoryTextColour{0, 0, 255};

constexpr char kWrongOperation[] = "错误操作";
constexpr char kNoChipEdit[] = "不能改变芯片代码数据!";
constexpr char kNoAsciiEdit[] = "不能在ASCII码方式改变代码!";
constexpr char kBadCellValue[] = "代码输入错误!";
constexpr char kGreetingCaption[] = "尊敬的用户";
constexpr char kGreetingText[] =
    "感谢您使用 KORU 编程器!\n"
    "KORU 编程器工作室\n"
    "网址: koru.example";

constexpr int kIdChipOtp = 114;
constexpr int kIdChipMtp = 115;
constexpr int kIdVdd50 = 116;
constexpr int kIdVdd33 = 117;
constexpr int kIdChipVoltage = 135;
constexpr int kIdMemoryGroup = 158;
constexpr int kIdMemoryList = 159;
constexpr int kIdStatusGroup = 109;

QString WindowCaption() {
    return QString::fromUtf8(kMainWindowProduct) + QString(kMainWindowCaptionBlanks, u' ') +
           WebAddress();
}

}  // namespace

CProgrammerDlg::CProgrammerDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(WindowCaption());
    setWindowIcon(QIcon(QStringLiteral(":/koru/icon.png")));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    SetMainWindowHost(this);
    m_job = std::make_unique<WindowJob>(*this);
    CreateControls();
    SetWindowRegion(kRegionCountersHidden);

    m_mainTimer.setInterval(kTickMs);
    m_tickTimer.setInterval(kTickMs);
    connect(&m_mainTimer, &QTimer::timeout, this, &CProgrammerDlg::tick);
    connect(&m_tickTimer, &QTimer::timeout, this, &CProgrammerDlg::tick);
}

CProgrammerDlg::~CProgrammerDlg() {
    if (m_waitCursorShown) {
        QApplication::restoreOverrideCursor();
    }
    if (MainWindowHost() == this) {
        SetMainWindowHost(nullptr);
    }
}

bool CProgrammerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && ControlId(watched) == kIdWebLink) {
        auto* link = static_cast<QWidget*>(watched);
        const QColor colour = m_linkPressed ? kLinkPressedColour : kLinkColour;
        if (link->palette().color(QPalette::WindowText) != colour) {
            QPalette palette = link->palette();
            palette.setColor(QPalette::WindowText, colour);
            link->setPalette(palette);
        }
    }
    return QDialog::eventFilter(watched, event);
}

QWidget* CProgrammerDlg::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

CMybtn* CProgrammerDlg::Button(int id) const {
    return dynamic_cast<CMybtn*>(Control(id));
}

QAbstractButton* CProgrammerDlg::ButtonWidget(int id) const {
    return qobject_cast<QAbstractButton*>(Control(id));
}

CMyedit* CProgrammerDlg::Edit(int id) const {
    return dynamic_cast<CMyedit*>(Control(id));
}

QGroupBox* CProgrammerDlg::Group(int id) const {
    return qobject_cast<QGroupBox*>(Control(id));
}

QTableWidget* CProgrammerDlg::MemoryList() const {
    return qobject_cast<QTableWidget*>(Control(kIdMemoryList));
}

bool CProgrammerDlg::IsAvailable(int id) const {
    if (const std::optional<bool> locked = m_job->LockedAvailability(id)) {
        return *locked;
    }
    const QWidget* control = Control(id);
    return control != nullptr && control->isEnabled();
}

void CProgrammerDlg::RefreshTitle() {
    setWindowTitle(WindowCaption() + m_job->TitleText() +
                   (m_serial ? m_serial->TitleText() : QString()));
}

bool CProgrammerDlg::IsMarked(int id) const {
    const QAbstractButton* button = ButtonWidget(id);
    return button != nullptr && button->isChecked();
}

void CProgrammerDlg::SetMarked(int id, bool marked) {
    QAbstractButton* button = ButtonWidget(id);
    if (button == nullptr) {
        return;
    }
    // An exclusive radio cannot be unmarked while it is the group's marked one.
    const bool exclusive = button->autoExclusive();
    if (!marked && exclusive) {
        button->setAutoExclusive(false);
    }
    button->setChecked(marked);
    button->setAutoExclusive(exclusive);
}

QString CProgrammerDlg::FieldText(int id) const {
    const CMyedit* edit = Edit(id);
    return edit != nullptr ? edit->text() : QString();
}

void CProgrammerDlg::SetFieldText(int id, const QString& text) {
    if (CMyedit* edit = Edit(id)) {
        edit->setText(text);
    }
}

void CProgrammerDlg::SetControlsVisible(std::initializer_list<int> ids, bool visible) {
    for (int id : ids) {
        Control(id)->setVisible(visible);
    }
}

void CProgrammerDlg::SetControlsEnabled(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) {
        Control(id)->setEnabled(enabled);
    }
}

void CProgrammerDlg::ApplyChipKind(int id) {
    SetControlsEnabled({118, 119, 120, kIdVdd33, 125, 124, 127, 126, 143, 145, 144}, false);
    if (id == kIdChipOtp) {
        SetMarked(kIdVdd50, true);
        SetMarked(kIdVdd33, false);
        SetFieldText(kIdChipVoltage, QStringLiteral("5.0"));
    } else if (id == kIdChipMtp) {
        SetControlsEnabled({118, 125, 124, 127, 126, 143, 145, 144}, true);
    }
}

void CProgrammerDlg::ShowMemoryView(bool on) {
    SetControlsVisible({176, 101, 102, 103, 104, 105, 106, 107, 108, kIdWebLink, 154}, !on);
    SetControlsVisible({kIdMemoryGroup, kIdMemoryList, 168}, on);
}

void CProgrammerDlg::PrepareMemoryList() {
    QTableWidget* list = MemoryList();
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setColumnCount(kListColumns);
    QStringList titles{QStringLiteral("ADDR")};
    for (int digit = 0; digit < kListColumns - 1; ++digit) {
        titles << QString::fromStdString(Hex(static_cast<std::uint32_t>(digit), 1));
    }
    list->setHorizontalHeaderLabels(titles);
    QHeaderView* header = list->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Fixed);
    list->setColumnWidth(0, kListAddressColumnWidth);
    for (int column = 1; column < kListColumns; ++column) {
        list->setColumnWidth(column, kListByteColumnWidth);
    }
    // Sixteen rows fill the list below its header.
    const int headerHeight = list->fontMetrics().height() + kListHeaderPadding;
    header->setFixedHeight(headerHeight);
    const int rowHeight = (list->height() - 2 * list->frameWidth() - headerHeight) / kListPageRows;
    list->verticalHeader()->setMinimumSectionSize(1);
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(rowHeight);
    list->setRowCount(kListRows);

    ResetDisplayAddress();
    SetFieldText(kIdDisplayAddress, QString::fromStdString(Hex(0, kViewAddressDigits)));
    SetMarked(kIdImageView, true);
    SetMarked(kIdAsciiView, false);
    m_memoryListPrepared = true;
}

void CProgrammerDlg::SetWindowRegion(int height) {
    m_regionHeight = height;
    const int clientHeight = std::min(kClientHeight, height - kDesignCaptionHeight);
    setFixedSize(kClientWidth, clientHeight);
    setMask(QRegion(0, 0, kRegionWidth, clientHeight));
    update();
}

void CProgrammerDlg::CentreOnScreen() {
    const QScreen* where = screen();
    if (where == nullptr) {
        return;
    }
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());  // the frame's corner: a title bar, where there is one, included
}

void CProgrammerDlg::setVisible(bool visible) {
    // Placed before the first showing, so the toolkit's own guess of a frame (it assumes a
    // title bar even where none is drawn) never applies.
    if (visible && !m_placed) {
        m_placed = true;
        CentreOnScreen();
    }
    QDialog::setVisible(visible);
}

void CProgrammerDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || m_frameCentred) {
        return;
    }
    m_frameCentred = true;
    // A window manager adds its frame only once the window is mapped: centre that frame.
    QTimer::singleShot(0, this, [this] {
        if (frameGeometry().size() != geometry().size()) {
            CentreOnScreen();
        }
    });
}

void CProgrammerDlg::SetStatusText(const QString& text) {
    QWidget* status = Control(kIdStatusLine);
    static_cast<CMyedit*>(status)->setText(text);
    status->repaint();
}

void CProgrammerDlg::ShowMemoryPage(const MemoryPageText& page) {
    QTableWidget* list = MemoryList();
    if (list->rowCount() < kListPageRows) {
        return;  // not prepared: no rows to write into
    }
    QPalette palette = list->palette();
    palette.setColor(QPalette::Text, kMemoryTextColour);
    list->setPalette(palette);
    auto setCell = [list](int row, int column, const std::string& text) {
        QTableWidgetItem* item = list->item(row, column);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            list->setItem(row, column, item);
        }
        item->setText(QString::fromStdString(text));
    };
    list->scrollToTop();
    for (int row = 0; row < kListPageRows; ++row) {
        setCell(row, 0, page.rowLabels[row]);
        for (int column = 1; column < kListColumns; ++column) {
            setCell(row, column, page.cells[row][column - 1]);
        }
    }
}

void CProgrammerDlg::EditMemoryCell(int row, int column) {
    if (BusyFlag.load() != 0) {
        return;
    }
    FailureFlag = 0;
    if (row < 0 || column <= 0) {
        return;
    }
    if (IsMarked(kIdChipView)) {
        ShowMessage(QString::fromUtf8(kWrongOperation), QString::fromUtf8(kNoChipEdit),
                    MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    if (IsMarked(kIdAsciiView)) {
        ShowMessage(QString::fromUtf8(kWrongOperation), QString::fromUtf8(kNoAsciiEdit),
                    MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    QTableWidget* list = MemoryList();
    const QTableWidgetItem* labelItem = list->item(row, 0);
    QTableWidgetItem* cell = list->item(row, column);
    // Rows below the page hold no address: nothing there to edit.
    const std::optional<std::string> address = MemoryCellAddressText(
        labelItem != nullptr ? labelItem->text().toStdString() : std::string(), column);
    if (!address || cell == nullptr) {
        return;
    }
    const std::optional<QString> value =
        RunEditDialog(cell->text(), QString::fromStdString(*address));
    if (!value) {
        return;
    }
    const std::optional<std::string> shown = StoreMemoryCell(*address, value->toStdString());
    if (!shown) {
        ShowMessage(QString::fromUtf8(kApplicationTitle), QString::fromUtf8(kBadCellValue),
                    MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    cell->setText(QString::fromStdString(*shown));
}

void CProgrammerDlg::RefreshCursor() {
    const bool busy = BusyFlag.load() != 0;
    if (busy && !m_waitCursorShown) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_waitCursorShown = true;
    } else if (!busy && m_waitCursorShown) {
        QApplication::restoreOverrideCursor();
        m_waitCursorShown = false;
    }
}

void CProgrammerDlg::LockViewControls(bool locked) {
    for (int id : {kIdImageView, kIdChipView, kIdAsciiView}) {
        Button(id)->SetLocked(locked);
    }
}

void CProgrammerDlg::StartMainTimer() {
    m_mainTimer.start();
}

void CProgrammerDlg::RestartTick() {
    m_tickTimer.start();
}

MessageAnswer CProgrammerDlg::ShowMessage(const QString& caption, const QString& text,
                                          MessageIcon icon, MessageButtons buttons) {
    QMessageBox box(this);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    switch (buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MessageButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Cancel);
            break;
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            // Closing a Yes/No box counts as No, any other box as Cancel.
            return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    }
}

std::optional<QString> CProgrammerDlg::RunEditDialog(const QString& value, const QString& address) {
    EditDialog dialog(this, value, address);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Value();
}

void CProgrammerDlg::Command(int id, QWidget* parent) {
    if (m_routing) {
        RouteCommand(*this, id, parent);
    }
}

bool CProgrammerDlg::RefusesCommandsOf(const QWidget* parent) {
    return RefusedWhileBusy(parent);
}

bool CProgrammerDlg::StatusIsFailure() {
    return FailureFlag.load() != 0;
}

void CProgrammerDlg::LinkPressed() {
    m_linkPressed = true;
}

bool CProgrammerDlg::LinkReleased() {
    if (!m_linkPressed) {
        return false;
    }
    m_linkPressed = false;
    return true;
}

void CProgrammerDlg::RequestSaveStop() {
    SaveStopRequest = 1;
}

void CProgrammerDlg::FunctionKey(int vk) {
    if (m_routing) {
        OnFunctionKey(vk);
    }
}

void CProgrammerDlg::ShowGreeting() {
    ShowMessage(QString::fromUtf8(kGreetingCaption), QString::fromUtf8(kGreetingText),
                MessageIcon::None, MessageButtons::Ok);
}

}  // namespace koru
