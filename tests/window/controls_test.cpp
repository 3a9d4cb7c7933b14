// The custom controls inside the real main window, driven with mouse and key events: what
// reaches the main window for each click, key and double-click, the lock of the view-mode
// controls, the edit fields' key filter, and the colours of the status line and the link.

#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>
#include <QUrl>
#include <QtTest>

#include "controls/cmyedit.h"
#include "controls/cmygrp.h"
#include "core/shared_state.h"
#include "tests/support/process_state.h"
#include "tests/window/test_window.h"
#include "window/qt_window_services.h"

namespace koru::test {

// Records the addresses the desktop was asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT

  public:
    QList<QUrl> opened;

  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// The main window that records what its controls hand it, one argument list a call, instead of
// acting on it.
class RecordingWindow : public TestWindow {
  public:
    QList<QList<QVariant>> commands;      // id, parent
    QList<QList<QVariant>> functionKeys;  // virtual-key code

    void Command(int id, QWidget* parent) override {
        commands.append(QList<QVariant>{id, QVariant::fromValue(parent)});
    }
    void FunctionKey(int vk) override { functionKeys.append(QList<QVariant>{vk}); }
};

class ControlsTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<RecordingWindow> m_window;
    const QList<QList<QVariant>>* m_commands = nullptr;
    const QList<QList<QVariant>>* m_functionKeys = nullptr;

    RecordingWindow& Window() { return *m_window; }

    QList<int> CommandIds() const {
        QList<int> ids;
        for (const QList<QVariant>& call : *m_commands) {
            ids.append(call.at(0).toInt());
        }
        return ids;
    }

    void Click(QWidget* widget, QPoint at) {
        QTest::mousePress(widget, Qt::LeftButton, {}, at);
        QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
    }

  private slots:
    void init() {
        ResetProcessState();
        m_window = std::make_unique<RecordingWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_commands = &m_window->commands;
        m_functionKeys = &m_window->functionKeys;
    }

    void cleanup() {
        m_commands = nullptr;
        m_functionKeys = nullptr;
        m_window.reset();
    }

    void clickSendsIdAndParent_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("parent");  // 0: the main window
        QTest::newRow("push button in a group") << 136 << 107;
        QTest::newRow("push button on the window") << 154 << 0;
        QTest::newRow("radio button") << 111 << 101;
        QTest::newRow("check box") << 121 << 105;
        QTest::newRow("counter button") << 172 << 170;
    }

    void clickSendsIdAndParent() {
        QFETCH(int, id);
        QFETCH(int, parent);
        QWidget* button = Window().Control(id);
        Click(button, button->rect().center());
        QCOMPARE(m_commands->count(), 1);
        QCOMPARE(m_commands->at(0).at(0).toInt(), id);
        QWidget* expectedParent = parent == 0 ? m_window.get() : Window().Control(parent);
        QCOMPARE(m_commands->at(0).at(1).value<QWidget*>(), expectedParent);
        QVERIFY(!Window().Button(id)->IsPressed());
    }

    void releaseNotStrictlyInsideSendsNothing_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QPoint>("release");
        QTest::newRow("moved off to the right") << 137 << QPoint(200, 10);
        QTest::newRow("moved off above") << 137 << QPoint(10, -4);
        QTest::newRow("leftmost column") << 137 << QPoint(0, 10);
        QTest::newRow("top row") << 137 << QPoint(10, 0);
        QTest::newRow("check box, leftmost column") << 121 << QPoint(0, 7);
    }

    void releaseNotStrictlyInsideSendsNothing() {
        QFETCH(int, id);
        QFETCH(QPoint, release);
        QWidget* button = Window().Control(id);
        QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
        QVERIFY(Window().Button(id)->IsPressed());
        QTest::mouseRelease(button, Qt::LeftButton, {}, release);
        QCOMPARE(m_commands->count(), 0);
        QVERIFY(!Window().Button(id)->IsPressed());
        // The next click inside works as usual.
        Click(button, QPoint(1, 1));
        QCOMPARE(CommandIds(), QList<int>{id});
    }

    // Every click of a double-click reaches the window, so a check box's mark and what the
    // window was told stay in step.
    void doubleClickedCheckBoxStaysInStep() {
        QWidget* box = Window().Control(171);
        const bool markedBefore = Window().IsMarked(171);
        // What the platform delivers: press, release, double-click (the second press), release.
        Click(box, box->rect().center());
        QTest::mouseDClick(box, Qt::LeftButton, {}, box->rect().center());
        QTest::mouseRelease(box, Qt::LeftButton, {}, box->rect().center());
        QCOMPARE(m_commands->count(), 2);
        QCOMPARE(Window().IsMarked(171), markedBefore != (m_commands->count() % 2 == 1));
    }

    void enterSendsTheCommandSpaceDoesNot() {
        QWidget* button = Window().Control(137);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(m_commands->count(), 0);
        QTest::keyClick(button, Qt::Key_Return);
        QCOMPARE(CommandIds(), QList<int>{137});
        QTest::keyClick(button, Qt::Key_Enter);
        QCOMPARE(CommandIds(), (QList<int>{137, 137}));
        QVERIFY(Window().isVisible());  // Enter never closes the window
        // A space on a check box does not toggle it behind the window's back either.
        QWidget* box = Window().Control(121);
        QTest::keyClick(box, Qt::Key_Space);
        QVERIFY(!Window().IsMarked(121));
        QCOMPARE(m_commands->count(), 2);
    }

    // Enter acts on its release only when the same control saw the press: a box closed by the
    // press of a later stroke leaves a lone release behind, which must not act again.
    void enterActsOnlyAfterItsOwnPress_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("strokes");  // P press, p repeated press, R release, F focus away
        QTest::addColumn<int>("commands");
        QTest::newRow("button, one stroke") << 137 << "PR" << 1;
        QTest::newRow("button, lone release") << 137 << "R" << 0;
        QTest::newRow("button, stroke then stray release") << 137 << "PRR" << 1;
        QTest::newRow("button, key held") << 137 << "PppR" << 1;
        QTest::newRow("button, focus lost between") << 137 << "PFR" << 0;
        QTest::newRow("display address, stray release") << 162 << "PRR" << 1;
        QTest::newRow("display address, lone release") << 162 << "R" << 0;
    }

    void enterActsOnlyAfterItsOwnPress() {
        QFETCH(int, id);
        QFETCH(QString, strokes);
        QFETCH(int, commands);
        Window().ShowMemoryView(id == 162);
        QWidget* control = Window().Control(id);
        control->setFocus();
        for (QChar stroke : strokes) {
            if (stroke == u'F') {
                Window().Control(129)->setFocus();
                QCOMPARE(QApplication::focusWidget(), Window().Control(129));
                continue;
            }
            const QEvent::Type type = stroke == u'R' ? QEvent::KeyRelease : QEvent::KeyPress;
            QKeyEvent key(type, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"),
                          stroke == u'p');
            QApplication::sendEvent(control, &key);
        }
        QCOMPARE(m_commands->count(), commands);
    }

    // While an operation runs the port and memory-view radios keep their marks (the window
    // refuses their commands); an option box of another group still follows the mouse.
    void busyWindowKeepsTheMarksItRefuses_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("marked");  // the control marked before the click
        QTest::newRow("port radio") << 111 << 110;
        QTest::newRow("memory view radio") << 166 << 165;
        QTest::newRow("option box") << 121 << -1;
    }

    void busyWindowKeepsTheMarksItRefuses() {
        QFETCH(int, id);
        QFETCH(int, marked);
        Window().ShowMemoryView(id == 166);
        Window().SetMarked(marked, true);
        BusyFlag = 1;
        QWidget* button = Window().Control(id);
        Click(button, button->rect().center());
        QCOMPARE(Window().IsMarked(id), marked < 0);
        QVERIFY(marked < 0 || Window().IsMarked(marked));
    }

    // Tab and Backtab never move the focus to another control; only the memory list is a stop.
    void tabKeepsTheFocus_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("key");
        QTest::newRow("button, Tab") << 137 << int(Qt::Key_Tab);
        QTest::newRow("check box, Backtab") << 121 << int(Qt::Key_Backtab);
        QTest::newRow("display address, Tab") << 162 << int(Qt::Key_Tab);
        QTest::newRow("memory view button, Backtab") << 161 << int(Qt::Key_Backtab);
    }

    void tabKeepsTheFocus() {
        QFETCH(int, id);
        QFETCH(int, key);
        Window().ShowMemoryView(id == 162 || id == 161);
        QWidget* control = Window().Control(id);
        control->setFocus();
        for (int stroke = 0; stroke < 3; ++stroke) {
            QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
            QWidget* now = QApplication::focusWidget();
            QVERIFY2(now == control || now == Window().MemoryList(),
                     qPrintable(QString::number(ControlId(now))));
        }
    }

    void functionKeysReachTheWindow_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("vk");  // -1: nothing reaches the window
        QTest::newRow("F1") << int(Qt::Key_F1) << -1;
        QTest::newRow("F2") << int(Qt::Key_F2) << 0x71;
        QTest::newRow("F5") << int(Qt::Key_F5) << 116;
        QTest::newRow("F8") << int(Qt::Key_F8) << 119;
        QTest::newRow("F12") << int(Qt::Key_F12) << 0x7B;
        QTest::newRow("letter") << int(Qt::Key_A) << -1;
    }

    void functionKeysReachTheWindow() {
        QFETCH(int, key);
        QFETCH(int, vk);
        QWidget* button = Window().Control(140);
        button->setFocus();
        QTest::keyClick(button, static_cast<Qt::Key>(key));
        if (vk < 0) {
            QCOMPARE(m_functionKeys->count(), 0);
        } else {
            QCOMPARE(m_functionKeys->count(), 1);
            QCOMPARE(m_functionKeys->at(0).at(0).toInt(), vk);
        }
        QCOMPARE(m_commands->count(), 0);
    }

    void lockedViewControlsIgnorePresses() {
        Window().ShowMemoryView(true);
        Window().PrepareMemoryList();
        QtWindowServices(Window()).LockViewControls(true);
        QWidget* ascii = Window().Control(167);
        QWidget* chip = Window().Control(166);
        Click(ascii, ascii->rect().center());
        Click(chip, chip->rect().center());
        QVERIFY(!Window().IsMarked(167));
        QVERIFY(!Window().IsMarked(166));
        QVERIFY(Window().IsMarked(165));
        QCOMPARE(m_commands->count(), 0);
        // Other buttons work while the view controls are locked.
        QWidget* next = Window().Control(161);
        Click(next, next->rect().center());
        QCOMPARE(CommandIds(), QList<int>{161});
        // A lock on any other button has no effect.
        Window().Button(160)->SetLocked(true);
        Click(Window().Control(160), QPoint(5, 5));
        QCOMPARE(CommandIds(), (QList<int>{161, 160}));

        QtWindowServices(Window()).LockViewControls(false);
        Click(ascii, ascii->rect().center());
        QVERIFY(Window().IsMarked(167));
        QCOMPARE(CommandIds(), (QList<int>{161, 160, 167}));
    }

    void focusLossRemovesTheDefaultFrame() {
        auto* first = qobject_cast<QPushButton*>(Window().Control(136));
        first->setFocus();
        first->setDefault(true);
        Window().Control(137)->setFocus();
        QVERIFY(!first->isDefault());
    }

    void hexFieldsTakeOnlyHexDigits_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("display address, bad keys") << 162 << "g- "
                                                   << "";
        QTest::newRow("display address, lower case") << 162 << "c"
                                                     << "C";
        QTest::newRow("display address, mixed") << 162 << "1x2-a b"
                                                << "12AB";
        QTest::newRow("start address") << 129 << "zf0"
                                       << "F0";
        QTest::newRow("file name takes everything") << 147 << "a-g z.HEX"
                                                    << "a-g z.HEX";
    }

    void hexFieldsTakeOnlyHexDigits() {
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        CMyedit* edit = Window().Edit(id);
        edit->clear();
        edit->setFocus();
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), shown);
        // Backspace and the cursor keys still edit.
        if (!shown.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Backspace);
            QCOMPARE(edit->text(), shown.chopped(1));
        }
    }

    void enterInTheDisplayAddressActsAsSet() {
        Window().ShowMemoryView(true);
        CMyedit* edit = Window().Edit(162);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(CommandIds(), QList<int>{163});
        QCOMPARE(m_commands->at(0).at(1).value<QWidget*>(), Window().Control(158));
        // Enter in any other field sends nothing.
        QTest::keyClick(Window().Edit(129), Qt::Key_Return);
        QCOMPARE(m_commands->count(), 1);
        QVERIFY(Window().isVisible());
    }

    void doubleClicksStandInForOtherControls() {
        CMyedit* file = Window().Edit(147);
        QTest::mouseDClick(file, Qt::LeftButton, {}, file->rect().center());
        QCOMPARE(CommandIds(), QList<int>{146});
        QCOMPARE(m_commands->at(0).at(1).value<QWidget*>(), Window().Control(108));

        CMyedit* checksum = Window().Edit(153);
        QTest::mouseDClick(checksum, Qt::LeftButton, {}, checksum->rect().center());
        QCOMPARE(Window().boxes.size(), std::size_t{1});
        QCOMPARE(Window().boxes[0].caption, QStringLiteral("尊敬的用户"));
        QCOMPARE(Window().boxes[0].icon, MessageIcon::None);
        QCOMPARE(m_commands->count(), 1);
    }

    void statusDoubleClickStopsASaveOnlyNearItsLeft_data() {
        QTest::addColumn<int>("offset");  // from the left of the text rectangle
        QTest::addColumn<int>("request");
        QTest::newRow("inside") << 20 << 1;
        QTest::newRow("just inside") << 139 << 1;
        QTest::newRow("at 140") << 140 << 0;
        QTest::newRow("far right") << 400 << 0;
        QTest::newRow("left edge") << 0 << 0;
    }

    void statusDoubleClickStopsASaveOnlyNearItsLeft() {
        QFETCH(int, offset);
        QFETCH(int, request);
        CMyedit* status = Window().Edit(157);
        const QRect area = status->FormattingRect();
        QTest::mouseDClick(status, Qt::LeftButton, {},
                           QPoint(area.left() + offset, area.center().y()));
        QCOMPARE(SaveStopRequest.load(), request);
    }

    void statusLineColourFollowsTheFailureFlag() {
        QtWindowServices services(Window());
        QWidget* status = Window().Control(157);
        FailureFlag = 1;
        services.SetStatusLine("端口打开失败");
        QCOMPARE(PaintedColour(status, QPalette::Text), kStatusFailureColour);
        FailureFlag = 0;
        services.SetStatusLine("OK");
        QCOMPARE(PaintedColour(status, QPalette::Text), kStatusNormalColour);
        // The colour follows the flag at the next repaint, whatever the text.
        FailureFlag = 1;
        QCOMPARE(PaintedColour(status, QPalette::Text), kStatusFailureColour);
        // The checksum field is always blue; other fields keep their colour.
        QCOMPARE(PaintedColour(Window().Control(153), QPalette::Text), kStatusNormalColour);
        QVERIFY(PaintedColour(Window().Control(129), QPalette::Text) != kStatusFailureColour);
    }

    void groupCaptionColours() {
        const QColor groupColour(0, 100, 100);
        const QColor operationColour(0, 100, 255);
        for (int id : {101, 102, 103, 104, 105, 106, 109, 158, 170, 176}) {
            QCOMPARE(Window().Control(id)->palette().color(QPalette::WindowText), groupColour);
        }
        for (int id : {107, 108}) {
            QCOMPARE(Window().Control(id)->palette().color(QPalette::WindowText), operationColour);
        }
        // The controls inside keep the default colour.
        QCOMPARE(Window().Control(128)->palette().color(QPalette::WindowText),
                 QApplication::palette().color(QPalette::WindowText));
    }

    void linkIsRedWhilePressedAndOpensOnlyOnReleaseInside() {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
        QWidget* link = Window().Control(156);
        const QColor red(255, 0, 0);
        const QColor blue(0, 0, 255);
        QCOMPARE(PaintedColour(link, QPalette::WindowText), blue);

        QTest::mousePress(link, Qt::LeftButton, {}, link->rect().center());
        QVERIFY(Window().IsLinkPressed());
        QCOMPARE(PaintedColour(link, QPalette::WindowText), red);
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() + 10, 5));
        QVERIFY(!Window().IsLinkPressed());
        QCOMPARE(PaintedColour(link, QPalette::WindowText), blue);
        QCOMPARE(recorder.opened.size(), 0);

        // A release without a press opens nothing.
        QTest::mouseRelease(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(recorder.opened.size(), 0);

        Click(link, link->rect().center());
        QCOMPARE(recorder.opened, QList<QUrl>{QUrl(QStringLiteral("http://koru.example/"))});
        QCOMPARE(PaintedColour(link, QPalette::WindowText), blue);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void labelsIgnoreTheMouse() {
        QWidget* label = Window().Control(128);
        Click(label, label->rect().center());
        QVERIFY(!Window().IsLinkPressed());
        QCOMPARE(m_commands->count(), 0);
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::ControlsTest)
#include "controls_test.moc"
