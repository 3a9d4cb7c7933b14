// The memory view in the real window with the programming image: pages drawn through the
// window services (also from a worker thread), the display-address field, ASCII mode, the cell
// editor with its refusals, and the editor dialog itself.

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWheelEvent>
#include <QtTest>
#include <thread>

#include "controls/cmyedit.h"
#include "core/shared_state.h"
#include "image/memory_view.h"
#include "image/program_memory.h"
#include "operations/read_block.h"
#include "tests/support/process_state.h"
#include "tests/window/test_window.h"
#include "window/edit_dialog.h"
#include "window/qt_window_services.h"

namespace koru::test {

class MemoryViewTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TestWindow> m_window;
    std::unique_ptr<QtWindowServices> m_services;

    TestWindow& Window() { return *m_window; }
    QTableWidget& List() { return *m_window->MemoryList(); }
    QString Cell(int row, int column) {
        const QTableWidgetItem* item = List().item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    void DoubleClickCell(int row, int column) {
        const QRect cell = List().visualRect(List().model()->index(row, column));
        // The list acts on a double-click only where the click before it was.
        QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, cell.center());
    }

  private slots:
    void init() {
        ResetProcessState();
        ResetDisplayAddress();
        for (std::uint32_t address = 0; address < kImageSize; ++address) {
            ProgramMemory[address] = static_cast<std::uint8_t>(address ^ (address >> 8));
        }
        m_window = std::make_unique<TestWindow>();
        m_services = std::make_unique<QtWindowServices>(*m_window);
        InstallWindowServices(m_services.get());
        m_window->ShowMemoryView(true);
        m_window->PrepareMemoryList();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup() {
        InstallWindowServices(nullptr);
        m_services.reset();
        m_window.reset();
        ResetProcessState();
    }

    void pageAddresses_data() {
        QTest::addColumn<uint>("start");
        QTest::addColumn<QString>("typed");  // typed into the display-address field
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");  // first row label and field afterwards
        QTest::newRow("previous at 00050") << 0x50u << "" << int(kShowPagePrevious) << "00000";
        QTest::newRow("previous at 00100") << 0x100u << "" << int(kShowPagePrevious) << "00000";
        QTest::newRow("next at FFF00 stays") << 0xFFF00u << "" << int(kShowPageNext) << "FFF00";
        QTest::newRow("next at 00000") << 0u << "" << int(kShowPageNext) << "00100";
        QTest::newRow("typed 12345") << 0u << "12345" << int(kShowPageTyped) << "12340";
        QTest::newRow("typed FFFFF") << 0u << "FFFFF" << int(kShowPageTyped) << "FFF00";
        QTest::newRow("typed six digits") << 0u << "123456" << int(kShowPageTyped) << "23450";
        QTest::newRow("typed lower case") << 0u << "abc" << int(kShowPageTyped) << "00AB0";
        QTest::newRow("typed empty") << 0x300u << "" << int(kShowPageTyped) << "00000";
        QTest::newRow("ascii switch keeps the page")
            << 0x12340u << "" << int(kShowPageMode) << "12340";
        QTest::newRow("other code keeps the page") << 0x40u << "" << 200 << "00040";
    }

    void pageAddresses() {
        QFETCH(uint, start);
        QFETCH(QString, typed);
        QFETCH(int, code);
        QFETCH(QString, shown);
        DisplayAddress = start;
        CMyedit* field = Window().Edit(162);
        field->clear();
        field->setFocus();
        QTest::keyClicks(field, typed);
        ShowMemoryPage(static_cast<std::uint8_t>(code), ReadBlockFromChip);
        QCOMPARE(FailureFlag.load(), 0);
        QCOMPARE(Cell(0, 0), shown);
        QCOMPARE(Window().FieldText(162), shown);
        const std::uint32_t first = shown.toUInt(nullptr, 16);
        QCOMPARE(DisplayAddress.load(), first);
        QCOMPARE(Cell(15, 0), QStringLiteral("%1").arg(first + 0xF0, 5, 16, QChar(u'0')).toUpper());
        // Every cell shows its image byte.
        for (int row = 0; row < 16; ++row) {
            for (int column = 1; column <= 16; ++column) {
                const std::uint32_t address = first + 16 * row + column - 1;
                QCOMPARE(
                    Cell(row, column),
                    QStringLiteral("%1").arg(ProgramMemory[address], 2, 16, QChar(u'0')).toUpper());
            }
        }
        const QString last = QStringLiteral("%1").arg(first + 0xFF, 5, 16, QChar(u'0')).toUpper();
        QCOMPARE(Window().FieldText(157),
                 QStringLiteral("当前显示代码区段:  ") + shown + u'~' + last);
        QCOMPARE(List().palette().color(QPalette::Text), QColor(0, 0, 255));
    }

    void typedPageShowsItsRange() {
        CMyedit* field = Window().Edit(162);
        field->clear();
        QTest::keyClicks(field, QStringLiteral("12345"));
        ShowMemoryPage(kShowPageTyped, ReadBlockFromChip);
        QCOMPARE(Window().FieldText(157), QStringLiteral("当前显示代码区段:  12340~1243F"));
        QCOMPARE(Cell(0, 0), QStringLiteral("12340"));
        QCOMPARE(Cell(15, 0), QStringLiteral("12430"));
    }

    void badDisplayAddressKeepsThePage() {
        DisplayAddress = 0x200;
        ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);
        const QString before = Cell(3, 4);
        // Pasted text is not filtered like typed text.
        Window().SetFieldText(162, QStringLiteral("12G45"));
        ShowMemoryPage(kShowPageTyped, ReadBlockFromChip);
        QCOMPARE(FailureFlag.load(), 1);
        QCOMPARE(Window().FieldText(157), QStringLiteral("显示地址设置错误!"));
        QCOMPARE(DisplayAddress.load(), 0x200u);
        QCOMPARE(Cell(0, 0), QStringLiteral("00200"));
        QCOMPARE(Cell(3, 4), before);
        // The failure shows red.
        QCOMPARE(PaintedColour(Window().Control(157), QPalette::Text), QColor(255, 0, 0));
    }

    void asciiModeShowsPrintableCharactersOnly() {
        const std::uint8_t bytes[] = {0x41, 0x20, 0x7F, 0xFF, 0x21, 0x7E, 0x00, 0x61};
        const char* shown[] = {"A", "", "", "", "!", "~", "", "a"};
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            ProgramMemory[i] = bytes[i];
        }
        Window().SetMarked(167, true);
        ShowMemoryPage(kShowPageMode, ReadBlockFromChip);
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            QCOMPARE(Cell(0, static_cast<int>(i) + 1), QString::fromUtf8(shown[i]));
        }
        Window().SetMarked(167, false);
        ShowMemoryPage(kShowPageMode, ReadBlockFromChip);
        QCOMPARE(Cell(0, 1), QStringLiteral("41"));
        QCOMPARE(Cell(0, 2), QStringLiteral("20"));
    }

    // The runner draws pages on its worker; the window's thread keeps serving events.
    void pageFromAWorkerThread() {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            ShowMemoryPage(kShowPageNext, ReadBlockFromChip);
            ShowMemoryPage(kShowPageNext, ReadBlockFromChip);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        worker.join();
        QCOMPARE(Cell(0, 0), QStringLiteral("00200"));
        QCOMPARE(Window().FieldText(162), QStringLiteral("00200"));
    }

    // The list shows its sixteen page rows at the top whatever the mouse, the wheel or the keys
    // do; nothing below the page is ever selected.
    void pageStaysInView_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("mouse over the partly shown row") << "hover";
        QTest::newRow("click on the partly shown row") << "click";
        QTest::newRow("Down on the last page row") << "down";
        QTest::newRow("PageDown") << "pagedown";
        QTest::newRow("Ctrl+End") << "ctrlend";
        QTest::newRow("wheel") << "wheel";
    }

    void pageStaysInView() {
        QFETCH(QString, action);
        ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);
        QTableWidget& list = List();
        QWidget* viewport = list.viewport();
        const QPoint lastPageRow = list.visualRect(list.model()->index(15, 3)).center();
        const QPoint belowPage(lastPageRow.x(), viewport->height() - 2);
        QCOMPARE(list.rowAt(belowPage.y()), 16);
        list.setFocus();
        if (action == "hover") {
            QTest::mouseMove(viewport, lastPageRow);
            QTest::mouseMove(viewport, belowPage);
        } else if (action == "click") {
            QTest::mouseClick(viewport, Qt::LeftButton, {}, belowPage);
        } else if (action == "down") {
            QTest::mouseClick(viewport, Qt::LeftButton, {}, lastPageRow);
            QTest::keyClick(&list, Qt::Key_Down);
        } else if (action == "pagedown") {
            QTest::keyClick(&list, Qt::Key_PageDown);
        } else if (action == "ctrlend") {
            QTest::keyClick(&list, Qt::Key_End, Qt::ControlModifier);
        } else {
            const QPoint global = viewport->mapToGlobal(lastPageRow);
            QWheelEvent wheel(lastPageRow, global, {}, QPoint(0, -120 * 3), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &wheel);
        }
        QCOMPARE(list.rowAt(0), 0);
        QCOMPARE(list.rowAt(lastPageRow.y()), 15);
        for (const QModelIndex& index : list.selectionModel()->selectedIndexes()) {
            QVERIFY2(index.row() < 16, qPrintable(QString::number(index.row())));
        }
        QVERIFY(list.currentRow() < 16);
        // The next page is drawn into the same top rows.
        ShowMemoryPage(kShowPageNext, ReadBlockFromChip);
        QCOMPARE(list.rowAt(0), 0);
        QCOMPARE(Cell(0, 0), QStringLiteral("00100"));
    }

    void cellEditsChangeOneImageByte_data() {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("shown");
        QTest::newRow("one digit") << "5"
                                   << "05";
        QTest::newRow("three digits") << "ABC"
                                      << "BC";
        QTest::newRow("lower case") << "3f"
                                    << "3f";
        QTest::newRow("empty") << ""
                               << "00";
    }

    void cellEditsChangeOneImageByte() {
        QFETCH(QString, entered);
        QFETCH(QString, shown);
        DisplayAddress = 0;
        ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);
        const std::array<std::uint8_t, kImageSize>* before = nullptr;
        auto copy = std::make_unique<std::array<std::uint8_t, kImageSize>>(ProgramMemory);
        before = copy.get();
        Window().SetFieldText(153, QStringLiteral("1234"));
        Window().QueueEditAnswer(entered);
        DoubleClickCell(1, 11);  // row 00010, column A
        QCOMPARE(Window().editRequests.size(), std::size_t{1});
        QCOMPARE(Window().editRequests[0].address, QStringLiteral("0001A"));
        QCOMPARE(Window().editRequests[0].value,
                 QStringLiteral("%1").arg((*before)[0x1A], 2, 16, QChar(u'0')).toUpper());
        QCOMPARE(Cell(1, 11), shown);
        QCOMPARE(ProgramMemory[0x1A], static_cast<std::uint8_t>(shown.toUInt(nullptr, 16)));
        std::size_t changed = 0;
        for (std::uint32_t address = 0; address < kImageSize; ++address) {
            changed += ProgramMemory[address] != (*before)[address] ? 1 : 0;
        }
        QVERIFY(changed <= 1);
        QVERIFY(Window().boxes.empty());
        QCOMPARE(Window().FieldText(153), QStringLiteral("1234"));  // the old checksum stays
    }

    void badCellValueChangesNothing() {
        ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);
        const std::uint8_t before = ProgramMemory[0x25];
        Window().QueueEditAnswer(QStringLiteral("XY"));
        DoubleClickCell(2, 6);
        QCOMPARE(Window().boxes.size(), std::size_t{1});
        QCOMPARE(Window().boxes[0].caption, QStringLiteral("KORU"));
        QCOMPARE(Window().boxes[0].text, QStringLiteral("代码输入错误!"));
        QCOMPARE(Window().boxes[0].icon, MessageIcon::Warning);
        QCOMPARE(ProgramMemory[0x25], before);
        QCOMPARE(Cell(2, 6), QStringLiteral("%1").arg(before, 2, 16, QChar(u'0')).toUpper());
    }

    void cancelledEditChangesNothing() {
        ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);
        const std::uint8_t before = ProgramMemory[0x00];
        DoubleClickCell(0, 1);  // nothing queued: the editor is cancelled
        QCOMPARE(Window().editRequests.size(), std::size_t{1});
        QCOMPARE(ProgramMemory[0x00], before);
    }

    void editsRefused_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("markedId");  // 0: none
        QTest::addColumn<int>("busy");
        QTest::addColumn<QString>("message");  // empty: refused silently
        QTest::newRow("chip view") << 0 << 1 << 166 << 0 << "不能改变芯片代码数据!";
        QTest::newRow("ascii mode") << 0 << 1 << 167 << 0 << "不能在ASCII码方式改变代码!";
        QTest::newRow("while busy") << 0 << 1 << 0 << 1 << "";
        QTest::newRow("address column") << 3 << 0 << 0 << 0 << "";
        QTest::newRow("row below the page") << 16 << 1 << 0 << 0 << "";
    }

    void editsRefused() {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(int, markedId);
        QFETCH(int, busy);
        QFETCH(QString, message);
        ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);
        if (markedId != 0) {
            Window().SetMarked(markedId, true);
        }
        const auto before = std::make_unique<std::array<std::uint8_t, kImageSize>>(ProgramMemory);
        Window().QueueEditAnswer(QStringLiteral("77"));
        FailureFlag = busy;  // a running operation's failure is not touched while busy
        BusyFlag = busy;
        Window().EditMemoryCell(row, column);
        BusyFlag = 0;
        QVERIFY(Window().editRequests.empty());
        QVERIFY(ProgramMemory == *before);
        if (message.isEmpty()) {
            QVERIFY(Window().boxes.empty());
        } else {
            QCOMPARE(Window().boxes.size(), std::size_t{1});
            QCOMPARE(Window().boxes[0].caption, QStringLiteral("错误操作"));
            QCOMPARE(Window().boxes[0].text, message);
            QCOMPARE(Window().boxes[0].icon, MessageIcon::Warning);
        }
        QCOMPARE(FailureFlag.load(), busy);
    }

    void editDialogAsDesigned() {
        EditDialog dialog(&Window(), QStringLiteral("3F"), QStringLiteral("0001A"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("编辑代码数据"));
        QCOMPARE(dialog.Prompt()->text(), QStringLiteral("请输入新值(地址--0001A):"));
        QCOMPARE(dialog.OkButton()->text(), QStringLiteral("确定"));
        QCOMPARE(dialog.CancelButton()->text(), QStringLiteral("取消"));
        QVERIFY(dialog.OkButton()->isDefault());
        CMyedit* edit = dialog.ValueEdit();
        QCOMPARE(ControlId(edit), kIdCellValueEdit);
        QCOMPARE(edit->geometry(), QRect(30, 60, 140, 25));
        QCOMPARE(edit->text(), QStringLiteral("3F"));
        QVERIFY(QFontMetrics(dialog.Prompt()->font()).horizontalAdvance(dialog.Prompt()->text()) <=
                dialog.Prompt()->width());

        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("g-c5"));
        QCOMPARE(edit->text(), QStringLiteral("C5"));
        QTest::keyClick(edit, Qt::Key_Return);  // Enter confirms like OK
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Value(), QStringLiteral("C5"));
    }

    void editDialogCancelKeepsTheValue() {
        EditDialog dialog(&Window(), QStringLiteral("3F"), QStringLiteral("00000"));
        dialog.show();
        QTest::keyClicks(dialog.ValueEdit(), QStringLiteral("12"));
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.Value(), QStringLiteral("3F"));
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::MemoryViewTest)
#include "memory_view_test.moc"
