// The main window against its control table: every control with its id, kind, caption, parent,
// rectangle, font and start-up state; captions that fit at the fonts this machine really has;
// no overlaps the table does not place; the chip-kind rule, the memory-view switch, the window
// region and the window services.

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTableWidget>
#include <QtTest>
#include <atomic>
#include <set>
#include <thread>

#include "controls/cmyedit.h"
#include "core/shared_state.h"
#include "tests/support/process_state.h"
#include "tests/window/test_window.h"
#include "window/control_table.h"
#include "window/qt_window_services.h"
#include "window/toolkit_translation.h"
#include "window/window_fonts.h"

namespace koru::test {
namespace {

QString Caption(const ControlEntry& entry) {
    return QString::fromUtf8(entry.caption);
}

// The widest text each field is expected to hold, where it starts empty or short.
QString WidestFieldText(int id, const QString& startText) {
    switch (id) {
        case 153:
            return QStringLiteral("FFFF");
        case 162:
            return QStringLiteral("FFFFF");
        case 179:
        case 180:
            return QStringLiteral("000000");
        default:
            return startText;
    }
}

QRect TableRect(const ControlEntry& entry) {
    return QRect(QPoint(entry.left, entry.top), QPoint(entry.right - 1, entry.bottom - 1));
}

// Overlaps the window is designed with: the address labels reach under their edits, and the
// memory list lies on its group box.
bool PlannedOverlap(int a, int b) {
    static const std::set<std::pair<int, int>> planned{
        {128, 129}, {130, 131}, {132, 133}, {134, 135}, {158, 159}};
    return planned.count({std::min(a, b), std::max(a, b)}) != 0;
}

// Pairs of visible siblings whose rectangles overlap but are not planned to.
QStringList UnplannedOverlaps(const CProgrammerDlg& window) {
    QStringList found;
    const auto table = ControlTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = i + 1; j < table.size(); ++j) {
            const QWidget* a = window.Control(table[i].id);
            const QWidget* b = window.Control(table[j].id);
            if (a->parentWidget() != b->parentWidget() || !a->isVisibleTo(&window) ||
                !b->isVisibleTo(&window)) {
                continue;
            }
            if (a->geometry().intersects(b->geometry()) &&
                !PlannedOverlap(table[i].id, table[j].id)) {
                found << QStringLiteral("%1/%2").arg(table[i].id).arg(table[j].id);
            }
        }
    }
    return found;
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(InstallToolkitTranslation(*qApp)); }

    void init() { ResetProcessState(); }

    void everyControlAsTheTableSays_data() {
        QTest::addColumn<int>("id");
        for (const ControlEntry& entry : ControlTable()) {
            QTest::addRow("%d", entry.id) << entry.id;
        }
    }

    void everyControlAsTheTableSays() {
        QFETCH(int, id);
        TestWindow window;
        const ControlEntry& entry = *FindControlEntry(id);
        QWidget* control = window.Control(id);
        QVERIFY(control != nullptr);
        QCOMPARE(ControlId(control), id);
        QCOMPARE(control->geometry(), TableRect(entry));
        QWidget* expectedParent = entry.parent == kParentMain ? static_cast<QWidget*>(&window)
                                                              : window.Control(entry.parent);
        QCOMPARE(control->parentWidget(), expectedParent);
        QCOMPARE(!control->isHidden(), (entry.flags & kHiddenAtStart) == 0);
        QCOMPARE(control->isEnabled(), (entry.flags & kDisabledAtStart) == 0);
        QVERIFY(QFontMetrics(control->font()).height() <= WindowFontDesign(entry.font).height);
        QCOMPARE(control->font().weight(), WindowFontDesign(entry.font).weight);
        // Only the memory list is a tab stop.
        QCOMPARE((control->focusPolicy() & Qt::TabFocus) != 0, entry.kind == ControlKind::List);

        switch (entry.kind) {
            case ControlKind::Group:
                QCOMPARE(qobject_cast<QGroupBox*>(control)->title(), Caption(entry));
                break;
            case ControlKind::Radio:
                QVERIFY(qobject_cast<QRadioButton*>(control) != nullptr);
                QCOMPARE(window.ButtonWidget(id)->text(), Caption(entry));
                QCOMPARE(window.IsMarked(id), (entry.flags & kMarkedAtStart) != 0);
                break;
            case ControlKind::Check:
                QVERIFY(qobject_cast<QCheckBox*>(control) != nullptr);
                QCOMPARE(window.ButtonWidget(id)->text(), Caption(entry));
                QCOMPARE(window.IsMarked(id), (entry.flags & kMarkedAtStart) != 0);
                break;
            case ControlKind::Button:
                QVERIFY(qobject_cast<QPushButton*>(control) != nullptr);
                QCOMPARE(window.ButtonWidget(id)->text(), Caption(entry));
                break;
            case ControlKind::Edit: {
                CMyedit* edit = window.Edit(id);
                QVERIFY(edit != nullptr);
                QCOMPARE(edit->text(), Caption(entry));
                QCOMPARE(edit->isReadOnly(), (entry.flags & kReadOnly) != 0);
                QCOMPARE(edit->IsUpperCase(), (entry.flags & kUpperCase) != 0);
                QCOMPARE((edit->alignment() & Qt::AlignHCenter) != 0,
                         (entry.flags & kCentred) != 0);
                break;
            }
            case ControlKind::Label:
                QCOMPARE(qobject_cast<QLabel*>(control)->text(), Caption(entry));
                break;
            case ControlKind::Link:
                QCOMPARE(qobject_cast<QLabel*>(control)->text(),
                         QStringLiteral("http://koru.example/"));
                QVERIFY(control->font().italic());
                QVERIFY(control->font().underline());
                break;
            case ControlKind::List:
                QVERIFY(qobject_cast<QTableWidget*>(control) != nullptr);
                break;
        }
    }

    void controlsAreCreatedInTableOrder() {
        TestWindow window;
        std::map<int, QList<int>> expected;
        for (const ControlEntry& entry : ControlTable()) {
            expected[entry.parent].append(entry.id);
        }
        for (const auto& [parentId, ids] : expected) {
            QWidget* parent = parentId == kParentMain ? &window : window.Control(parentId);
            QList<int> created;
            for (QObject* child : parent->children()) {
                if (ControlId(child) >= 0) {
                    created.append(ControlId(child));
                }
            }
            QCOMPARE(created, ids);
        }
        // Labels of the control-data group come before its edits.
        QCOMPARE(expected[106], (QList<int>{128, 130, 132, 134, 129, 131, 133, 135}));
    }

    void captionAndFaces() {
        TestWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("KORU V2.30B") + QString(10, u' ') +
                                           QStringLiteral("http://koru.example/"));
        QCOMPARE(QStringLiteral("http://koru.example/").size(), 20);
        // The dialog face is the named one where the system has it, else one that can show the
        // window's Chinese texts.
        const QString face = QFontInfo(GetWindowFont(WindowFont::Controls)).family();
        QVERIFY2(QFontDatabase::writingSystems(face).contains(QFontDatabase::SimplifiedChinese),
                 qPrintable(face));
    }

    void captionsFitTheirRectangles_data() {
        QTest::addColumn<int>("id");
        for (const ControlEntry& entry : ControlTable()) {
            if (entry.kind != ControlKind::List) {
                QTest::addRow("%d", entry.id) << entry.id;
            }
        }
    }

    void captionsFitTheirRectangles() {
        QFETCH(int, id);
        TestWindow window;
        window.show();
        const ControlEntry& entry = *FindControlEntry(id);
        QWidget* control = window.Control(id);
        const QFontMetrics metrics(control->font());
        QStyle* style = control->style();
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
        int needed = 0;
        int available = control->width();
        switch (entry.kind) {
            case ControlKind::Radio:
            case ControlKind::Check:
                needed = control->sizeHint().width();
                break;
            case ControlKind::Button:
                needed = metrics.horizontalAdvance(Caption(entry)) + 2 * frame + 2;
                break;
            case ControlKind::Group:
                needed = metrics.horizontalAdvance(Caption(entry)) + 2 * frame;
                break;
            case ControlKind::Edit: {
                auto* edit = window.Edit(id);
                const QString text = WidestFieldText(id, edit->text());
                needed = metrics.horizontalAdvance(text);
                available = edit->FormattingRect().width();
                break;
            }
            case ControlKind::Label:
            case ControlKind::Link: {
                needed = metrics.horizontalAdvance(qobject_cast<QLabel*>(control)->text());
                // A label's text must end before a sibling that covers part of it.
                for (QWidget* sibling :
                     control->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                    if (sibling != control && sibling->geometry().intersects(control->geometry()) &&
                        sibling->x() > control->x()) {
                        available = std::min(available, sibling->x() - control->x());
                    }
                }
                break;
            }
            case ControlKind::List:
                break;
        }
        QVERIFY2(needed <= available,
                 qPrintable(QStringLiteral("needs %1 px, has %2").arg(needed).arg(available)));
        QVERIFY2(metrics.height() <= control->height(),
                 qPrintable(QStringLiteral("text height %1 px, control %2")
                                .arg(metrics.height())
                                .arg(control->height())));
    }

    void visibleSiblingsOverlapOnlyWherePlanned() {
        TestWindow window;
        QCOMPARE(UnplannedOverlaps(window), QStringList());
        window.ShowMemoryView(true);
        QCOMPARE(UnplannedOverlaps(window), QStringList());
    }

    void otpSetsFiveVoltsAndDisablesMtpOnlyControls() {
        TestWindow window;
        window.ApplyChipKind(115);
        window.SetFieldText(135, QStringLiteral("3.3"));
        for (const ControlEntry& entry : ControlTable()) {
            if (entry.flags & kMtpOnly) {
                QVERIFY2(window.Control(entry.id)->isEnabled(),
                         qPrintable(QString::number(entry.id)));
            }
        }
        QCOMPARE(window.FieldText(135), QStringLiteral("3.3"));  // MTP leaves the voltage alone

        window.ApplyChipKind(114);
        QCOMPARE(window.FieldText(135), QStringLiteral("5.0"));
        QVERIFY(window.IsMarked(116));
        QVERIFY(!window.IsMarked(117));
        for (const ControlEntry& entry : ControlTable()) {
            if (entry.flags & kMtpOnly) {
                QVERIFY2(!window.Control(entry.id)->isEnabled(),
                         qPrintable(QString::number(entry.id)));
            }
        }
        // No chip kind enables CalmRisc, ARM or 3.3 V.
        window.ApplyChipKind(115);
        for (int id : {119, 120, 117}) {
            QVERIFY(!window.Control(id)->isEnabled());
        }
    }

    void memoryViewHidesAllGroupsButStatusAndCounters() {
        TestWindow window;
        window.ShowMemoryView(true);
        QStringList shownGroups;
        for (const ControlEntry& entry : ControlTable()) {
            if (entry.kind == ControlKind::Group && entry.parent == kParentMain &&
                window.Control(entry.id)->isVisibleTo(&window)) {
                shownGroups << Caption(entry);
            }
        }
        QCOMPARE(shownGroups,
                 (QStringList{QStringLiteral("编程内存代码视图"), QStringLiteral("编程状态"),
                              QStringLiteral("编程计数")}));
        QVERIFY(window.MemoryList()->isVisibleTo(&window));
        QVERIFY(window.Control(168)->isVisibleTo(&window));
        QVERIFY(!window.Control(154)->isVisibleTo(&window));
        QVERIFY(!window.Control(156)->isVisibleTo(&window));

        window.ShowMemoryView(false);
        for (const ControlEntry& entry : ControlTable()) {
            QCOMPARE(!window.Control(entry.id)->isHidden(), (entry.flags & kHiddenAtStart) == 0);
        }
    }

    void regionCutsOffTheCounterGroup() {
        TestWindow window;
        const QWidget* counters = window.Control(170);
        const QWidget* status = window.Control(109);
        QCOMPARE(window.WindowRegionHeight(), kRegionCountersHidden);
        QVERIFY(window.mask().boundingRect().bottom() < counters->geometry().top());
        QVERIFY(window.mask().boundingRect().bottom() >= status->geometry().bottom());
        window.SetWindowRegion(kRegionCountersShown);
        QVERIFY(window.mask().boundingRect().bottom() >= counters->geometry().bottom());
        QVERIFY(window.height() > counters->geometry().bottom());
    }

    void memoryListColumns() {
        TestWindow window;
        window.PrepareMemoryList();
        QTableWidget* list = window.MemoryList();
        QCOMPARE(list->columnCount(), 17);
        QCOMPARE(list->rowCount(), 272);
        QCOMPARE(list->horizontalHeaderItem(0)->text(), QStringLiteral("ADDR"));
        QCOMPARE(list->columnWidth(0), 45);
        for (int column = 1; column < 17; ++column) {
            QCOMPARE(list->horizontalHeaderItem(column)->text(),
                     QString::number(column - 1, 16).toUpper());
            QCOMPARE(list->columnWidth(column), 26);
        }
        // The sixteen page rows are all seen, below the header and inside the frame.
        const int pageBottom = list->rowViewportPosition(15) + list->rowHeight(15);
        QVERIFY(pageBottom <= list->viewport()->height());
        QVERIFY2(list->horizontalHeader()->length() <= list->viewport()->width(),
                 qPrintable(QStringLiteral("%1 > %2 (frame %3)")
                                .arg(list->horizontalHeader()->length())
                                .arg(list->viewport()->width())
                                .arg(list->frameWidth())));
        QCOMPARE(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!list->horizontalHeader()->sectionsClickable());
        QVERIFY(list->showGrid());
        // Titles and the widest cell texts fit their columns at the list's font.
        const QFontMetrics header(list->horizontalHeader()->font());
        QVERIFY(header.horizontalAdvance(QStringLiteral("ADDR")) < list->columnWidth(0));
        const QFontMetrics cells(list->font());
        QVERIFY(cells.horizontalAdvance(QStringLiteral("FFFF0")) < list->columnWidth(0));
        QVERIFY(cells.horizontalAdvance(QStringLiteral("WW")) < list->columnWidth(1));
        QVERIFY(cells.height() <= list->rowHeight(0));
        QCOMPARE(window.FieldText(162), QStringLiteral("00000"));
        QVERIFY(window.IsMarked(165));
        QVERIFY(window.IsMarked(167) == false);
        QVERIFY(window.IsMemoryListPrepared());
    }

    // Calls from a worker run on the window's thread while the worker waits.
    void servicesFromAWorkerRunOnTheWindowThread() {
        TestWindow window;
        QtWindowServices services(window);
        window.SetMarked(114, true);
        window.Control(114)->setEnabled(false);
        ChoiceState otp;
        ChoiceState fast;
        std::string start;
        MessageAnswer answer = MessageAnswer::Cancel;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            otp = services.GetChoice(Choice::SerialOtp);
            fast = services.GetChoice(Choice::FastMode);
            start = services.ReadField(TextField::StartAddress);
            services.WriteField(TextField::Checksum, "1A2B");
            services.SetStatusLine("调入代码......");
            services.LockViewControls(true);
            answer = services.ShowMessageBox("警 告", "text", MessageIcon::Warning,
                                             MessageButtons::OkCancel);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        worker.join();
        QVERIFY(otp.marked);
        QVERIFY(!otp.available);
        QVERIFY(fast.marked && fast.available);
        QCOMPARE(start, std::string("0000"));
        QCOMPARE(window.FieldText(153), QStringLiteral("1A2B"));
        QCOMPARE(window.FieldText(157), QStringLiteral("调入代码......"));
        for (int id : {165, 166, 167}) {
            QVERIFY(window.Button(id)->IsLocked());
        }
        QVERIFY(!window.Button(160)->IsLocked());
        QCOMPARE(answer, MessageAnswer::Ok);
        QCOMPARE(window.boxes.size(), std::size_t{1});
        QCOMPARE(window.boxes[0].caption, QStringLiteral("警 告"));
    }

    // The real boxes: caption, text, icon, the default button and the toolkit's button texts
    // in Chinese, answered by a key press.
    void messageBoxesAsAsked_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("texts");
        const QStringList ok{QStringLiteral("确定")};
        const QStringList okCancel{QStringLiteral("确定"), QStringLiteral("取消")};
        const QStringList yesNo{QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")};
        QTest::newRow("ok, Enter")
            << int(MessageButtons::Ok) << int(Qt::Key_Return) << int(MessageAnswer::Ok) << ok;
        QTest::newRow("ok-cancel, Enter takes Cancel")
            << int(MessageButtons::OkCancel) << int(Qt::Key_Return) << int(MessageAnswer::Cancel)
            << okCancel;
        QTest::newRow("yes-no, Enter") << int(MessageButtons::YesNo) << int(Qt::Key_Return)
                                       << int(MessageAnswer::Yes) << yesNo;
        QTest::newRow("yes-no, Esc")
            << int(MessageButtons::YesNo) << int(Qt::Key_Escape) << int(MessageAnswer::No) << yesNo;
    }

    void messageBoxesAsAsked() {
        QFETCH(int, buttons);
        QFETCH(int, key);
        QFETCH(int, answer);
        QFETCH(QStringList, texts);
        CProgrammerDlg window;
        window.show();
        QString seenTitle;
        QString seenText;
        QStringList seenButtons;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box != nullptr);
            seenTitle = box->windowTitle();
            seenText = qobject_cast<QMessageBox*>(box)->text();
            for (QAbstractButton* button : qobject_cast<QMessageBox*>(box)->buttons()) {
                seenButtons << button->text();
            }
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        });
        const MessageAnswer given =
            window.ShowMessage(QStringLiteral("确 认"), QStringLiteral("计数器将被清零!确定吗?"),
                               MessageIcon::Question, static_cast<MessageButtons>(buttons));
        QCOMPARE(int(given), answer);
        QCOMPARE(seenTitle, QStringLiteral("确 认"));
        QCOMPARE(seenText, QStringLiteral("计数器将被清零!确定吗?"));
        seenButtons.sort();
        texts.sort();
        QCOMPARE(seenButtons, texts);
    }

    // The real file dialogs: the toolkit's texts in Chinese, and each filter named once (its
    // name already shows its pattern).
    void fileDialogsSpeakChineseAndNameEachFilterOnce_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("accept");
        QTest::newRow("open") << int(FileDialogKind::Open) << QStringLiteral("打开(&O)");
        QTest::newRow("save") << int(FileDialogKind::Save) << QStringLiteral("保存(&S)");
    }

    void fileDialogsSpeakChineseAndNameEachFilterOnce() {
        QFETCH(int, kind);
        QFETCH(QString, accept);
        CProgrammerDlg window;
        window.show();
        QStringList seen;  // the filter names, then the accepting button
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            const auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; i < combo->count(); ++i) {
                seen << combo->itemText(i);
            }
            const auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            seen << box->buttons().at(0)->text();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QVERIFY(!window.RunFileDialog(
            static_cast<FileDialogKind>(kind),
            ToQtFileFilter("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj|BIN文件(*.*)|*.bin||")));
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("hex文件(*.hex)"), QStringLiteral("OBJ文件(*.*)"),
                              QStringLiteral("BIN文件(*.*)"), accept}));
    }

    void cursorFollowsTheBusyFlag() {
        TestWindow window;
        QtWindowServices services(window);
        BusyFlag = 1;
        services.RefreshCursor();
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        services.RefreshCursor();  // a second refresh does not stack cursors
        BusyFlag = 0;
        services.RefreshCursor();
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void restartedTickTicks() {
        TestWindow window;
        QSignalSpy ticks(&window, &CProgrammerDlg::tick);
        QtWindowServices(window).RestartTick();
        QVERIFY(window.IsTickRunning());
        QVERIFY(ticks.wait(5000));
    }

    void fileFiltersBecomeQtFilters() {
        QCOMPARE(
            ToQtFileFilter("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj|BIN文件(*.*)|*.bin||"),
            QStringLiteral("hex文件(*.hex) (*.hex);;OBJ文件(*.*) (*.obj);;BIN文件(*.*) (*.bin)"));
        QCOMPARE(ToQtFileFilter("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||"),
                 QStringLiteral("hex文件(*.hex) (*.hex);;OBJ文件(*.*) (*.obj)"));
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::LayoutTest)
#include "layout_test.moc"
