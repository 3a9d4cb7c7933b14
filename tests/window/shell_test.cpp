// The started program in the real window: the settings load and save, the counters and their
// settings dialog, the command router's refusals and boxes, and the shell's boxes and keys.

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTableWidget>
#include <QtTest>

#include "controls/cmyedit.h"
#include "core/settings_words.h"
#include "core/shared_state.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "platform/com_ports.h"
#include "platform/settings_store.h"
#include "resources/dialog_texts.h"
#include "tests/support/process_state.h"
#include "tests/window/shell_fixture.h"
#include "window/command_router.h"
#include "window/counters.h"
#include "window/port_settings_dialog.h"
#include "window/set_count_dialog.h"
#include "window/settings.h"
#include "window/station/station_window.h"
#include "window/window_job.h"
#include "window/window_serial.h"

namespace koru::test {
namespace {

constexpr int kLineEditInnerMargin = 2;  // a line edit's own gap on each side of its text

// The darkest grey level of the caption of a check box or radio button, right of its indicator.
int DarkestCaptionGrey(QWidget* button) {
    const QImage image = button->grab().toImage();
    const int captionLeft =
        button->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, button) + 1;
    int darkest = 255;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = captionLeft; x < image.width(); ++x) {
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
        }
    }
    return darkest;
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_config;
    std::unique_ptr<StartedWindow> m_program;

    TestWindow& W() { return m_program->Window(); }
    static QString Utf8(const char* text) { return QString::fromUtf8(text); }
    static void Store(const std::function<void(SettingsStore&)>& fill) {
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        fill(store);
        QVERIFY(store.Save());
    }
    static void WriteRawSettings(const QByteArray& bytes) {
        const QString path = QString::fromStdString(SettingsStore::PathForKey(kSettingsKey));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    bool Enabled(int id) { return W().Control(id)->isEnabled(); }
    QStringList BoxCaptions() {
        QStringList captions;
        for (const ShownBox& box : W().boxes) {
            captions << box.caption;
        }
        return captions;
    }
    void VerifyDefaults() {
        QVERIFY(W().IsMarked(118));
        QVERIFY(W().IsMarked(115));
        QVERIFY(!W().IsMarked(114));
        for (int mtpOnly : {118, 125, 124, 127, 126, 143, 145, 144}) {
            QVERIFY2(Enabled(mtpOnly), qPrintable(QString::number(mtpOnly)));
        }
        QVERIFY(W().IsMarked(116));
        QCOMPARE(W().FieldText(135), QStringLiteral("5.0"));
        for (int port : {110, 111, 112, 113}) {
            QVERIFY(!W().IsMarked(port));
        }
        QCOMPARE(PortSelectedFlag.load(), 0);
        QCOMPARE(W().FieldText(157), Utf8(kNoPortText));
        QCOMPARE(AutoFunc.load(), 0x21u);
        QCOMPARE(AutoOptions.load(), 0x79u);
        for (int marked : {121, 123, 127, 124, 126, 174, 171}) {
            QVERIFY2(W().IsMarked(marked), qPrintable(QString::number(marked)));
        }
        QVERIFY(!W().IsMarked(122));
        QVERIFY(!W().IsMarked(125));
        QCOMPARE(AutoCount.load(), 0x11u);
        QCOMPARE(W().WindowRegionHeight(), kRegionCountersShown);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        UseTemporaryConfigFolder(m_config);
    }

    void init() {
        ResetProcessState();
        QFile::remove(QString::fromStdString(SettingsStore::PathForKey(kSettingsKey)));
        m_program = std::make_unique<StartedWindow>();
    }

    void cleanup() {
        m_program.reset();
        ResetProcessState();
    }

    // --- settings -------------------------------------------------------------------------

    void firstRunGivesTheDefaults() {
        m_program->Start();
        VerifyDefaults();
        QVERIFY(W().boxes.empty());
    }

    void corruptOrHalfWrittenFilesGiveTheDefaults_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << QByteArray("\x01\x02\xff\xfe not a key at all\n", 22);
        QTest::newRow("cut mid-line") << QByteArray(
            "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"chip\"=\"sotp\"\n\"auto\"=dword:000");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("wrong types") << QByteArray(
            "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"chip\"=dword:00000001\n"
            "\"auto\"=\"7f\"\n\"com\"=dword:00000001\n");
    }
    void corruptOrHalfWrittenFilesGiveTheDefaults() {
        QFETCH(QByteArray, bytes);
        WriteRawSettings(bytes);
        m_program->Start();
        VerifyDefaults();
    }

    void storedAutoZeroStillMarksTheThreeAlwaysSetBoxes() {
        Store([](SettingsStore& s) { s.SetNumber(kValueAuto, 0); });
        m_program->Start();
        QCOMPARE(AutoOptions.load(), 0u);
        for (int marked : {121, 123, 127}) {
            QVERIFY(W().IsMarked(marked));
        }
        for (int unmarked : {122, 124, 125, 126}) {
            QVERIFY(!W().IsMarked(unmarked));
        }
    }

    void lockedProductionModeMarksAndDisables() {
        Store([](SettingsStore& s) {
            s.SetNumber(kValueAuto, 0);
            s.SetNumber(kValueAutoFunc, kFuncLockedProduction);
        });
        m_program->Start();
        QVERIFY(W().IsMarked(124));
        QVERIFY(W().IsMarked(126));
        QVERIFY(!W().IsMarked(174));  // the buzzer bit was not stored
        for (int locked : {149, 151, 139}) {
            QVERIFY(!Enabled(locked));
        }
        QCOMPARE(AutoFunc.load(), kFuncLockedProduction | kFuncAlwaysSet);
    }

    void pausedBitNeverSurvivesARestart() {
        Store([](SettingsStore& s) { s.SetNumber(kValueAutoFunc, 0x23); });
        m_program->Start();
        QCOMPARE(AutoFunc.load(), 0x21u);
        QCOMPARE(W().ButtonWidget(175)->text(), Utf8(kPauseCaption));
        // Paused at exit: saved so, and dropped again by the next load.
        m_program->Click(175);
        m_program->Close();
        QCOMPARE(StartedWindow::StoredSettings().GetNumber(kValueAutoFunc), 0x23u);
        m_program = std::make_unique<StartedWindow>();
        m_program->Start();
        QCOMPARE(AutoFunc.load(), 0x21u);
        QVERIFY(Enabled(179));
    }

    void otpAtExitSavesAutoWithoutTheMtpOnlyBits() {
        Store([](SettingsStore& s) {
            s.SetNumber(kValueAuto, 0x7F);
            s.SetString(kValueData, "arm");
            s.SetString(kValueVdd, "3.3V");
            s.SetString("other", "kept");
        });
        m_program->Start();
        // The start-up's fixed choices override the stored data type and Vdd.
        QVERIFY(W().IsMarked(118) && !W().IsMarked(120) && !Enabled(120));
        QVERIFY(W().IsMarked(116) && !W().IsMarked(117) && !Enabled(117));
        m_program->Click(114);
        QVERIFY(!Enabled(118));
        m_program->Close();
        const SettingsStore saved = StartedWindow::StoredSettings();
        QCOMPARE(saved.GetNumber(kValueAuto), 0x7Fu & ~0x5Au);
        QCOMPARE(saved.GetString(kValueChip), std::string("sotp"));
        QCOMPARE(saved.GetString(kValueData), std::string("sam"));
        QCOMPARE(saved.GetString(kValueVdd), std::string("5.0V"));
        QCOMPARE(saved.GetString(kValueCom), std::string("com0"));  // no port marked
        QCOMPARE(saved.GetNumber(kValueAutoCount), 0x11u);
        QCOMPARE(saved.GetNumber(kValueAutoFunc), 0x21u);
        QCOMPARE(saved.GetString("other"), std::string("kept"));

        // The next start takes OTP and probes nothing.
        m_program = std::make_unique<StartedWindow>();
        m_program->Start();
        QVERIFY(W().IsMarked(114));
        QVERIFY(!Enabled(125));
        QCOMPARE(W().FieldText(157), Utf8(kNoPortText));
    }

    void stringsLongerThanSevenCharactersReadAsMissing() {
        Store([](SettingsStore& s) {
            s.SetString(kValueChip, "sotp1234");
            s.SetString(kValueCom, "com9");
        });
        m_program->Start();
        QVERIFY(W().IsMarked(115));
        QCOMPARE(W().FieldText(157), Utf8(kNoPortText));
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        store.SetString(kValueData, "1234567");
        store.SetString(kValueChip, "12345678");
        QCOMPARE(ReadShortString(store, kValueData), std::optional<std::string>("1234567"));
        QCOMPARE(ReadShortString(store, kValueChip), std::optional<std::string>());
    }

    void savingTwiceOrWithoutStartWritesNothingMore() {
        // A window that never started (as in the layout tests) saves nothing.
        m_program->Window().close();
        QVERIFY(!QFile::exists(QString::fromStdString(SettingsStore::PathForKey(kSettingsKey))));
    }

    // --- counters -------------------------------------------------------------------------

    void clearAsksAndKeepsThePausedState() {
        m_program->Start();
        SuccessCount = 12;
        FailureCount = 3;
        W().SetFieldText(179, QStringLiteral("000012"));
        m_program->Click(175);  // paused
        m_program->Click(172);
        QCOMPARE(W().boxes.size(), std::size_t{1});
        QCOMPARE(W().boxes[0].caption, Utf8(kClearCaption));
        QCOMPARE(W().boxes[0].text, Utf8(kClearQuestion));
        QCOMPARE(W().boxes[0].icon, MessageIcon::Question);
        QCOMPARE(W().boxes[0].buttons, MessageButtons::OkCancel);
        QCOMPARE(SuccessCount.load(), 0u);
        QCOMPARE(FailureCount.load(), 0u);
        QCOMPARE(W().FieldText(179), QStringLiteral("00000"));
        QCOMPARE(W().FieldText(180), QStringLiteral("00000"));
        QVERIFY((AutoFunc.load() & kFuncCountingPaused) != 0);
        QCOMPARE(W().ButtonWidget(175)->text(), Utf8(kResumeCaption));
        QVERIFY(!Enabled(179) && !Enabled(180));
        m_program->Click(175);
        QCOMPARE(W().ButtonWidget(175)->text(), Utf8(kPauseCaption));
        QVERIFY(Enabled(179) && Enabled(180));
        QCOMPARE(AutoFunc.load() & kFuncCountingPaused, 0u);
    }

    void hidingTheCountersClipsTheWindow() {
        m_program->Start();
        m_program->Click(171);
        QVERIFY(!W().IsMarked(171));
        QCOMPARE(W().WindowRegionHeight(), kRegionCountersHidden);
        QVERIFY(!W().mask().contains(W().Control(170)->geometry().center()));
        m_program->Click(171);
        QCOMPARE(W().WindowRegionHeight(), kRegionCountersShown);
        QVERIFY(W().mask().contains(W().Control(170)->geometry().center()));
    }

    void counterStartValues_data() {
        QTest::addColumn<QString>("success");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<uint>("successCount");
        QTest::addColumn<uint>("failureCount");
        QTest::addColumn<QString>("successField");
        QTest::newRow("longer keeps the last six") << "1234567"
                                                   << "42" << 234567u << 42u << "234567";
        QTest::newRow("empty is zero") << ""
                                       << "" << 0u << 0u << "000000";
        QTest::newRow("fifteen digits") << "999999999999999"
                                        << "7" << 999999u << 7u << "999999";
    }
    void counterStartValues() {
        QFETCH(QString, success);
        QFETCH(QString, failure);
        m_program->Start();
        m_program->Click(175);  // paused: the dialog's OK resumes counting
        W().counterDialog = [&](CounterSettings& settings) {
            settings.successText = success;
            settings.failureText = failure;
            settings.flags = 0x24;
            return true;
        };
        m_program->Click(173);
        QCOMPARE(W().counterDialogShown.size(), std::size_t{1});
        QCOMPARE(W().counterDialogShown[0].successText, QStringLiteral("00000"));
        QCOMPARE(W().counterDialogShown[0].flags, 0x11u);
        QTEST(SuccessCount.load(), "successCount");
        QTEST(FailureCount.load(), "failureCount");
        QTEST(W().FieldText(179), "successField");
        QCOMPARE(W().FieldText(180).size(), 6);
        QCOMPARE(AutoCount.load(), 0x24u);
        QCOMPARE(AutoFunc.load() & (kFuncCountingPaused | kFuncAlwaysSet), kFuncAlwaysSet);
        QCOMPARE(W().ButtonWidget(175)->text(), Utf8(kPauseCaption));
        QVERIFY(Enabled(179));
    }

    void cancelOrANonDigitStartValueChangesNothing_data() {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("success");
        QTest::addColumn<bool>("refusalBox");
        QTest::newRow("cancel") << false << "123" << false;
        QTest::newRow("pasted letter") << true << "12a4" << true;
        QTest::newRow("pasted minus") << true << "-1" << true;
        QTest::newRow("pasted full-width digit") << true << QString::fromUtf8("１２") << true;
    }
    void cancelOrANonDigitStartValueChangesNothing() {
        QFETCH(bool, ok);
        QFETCH(QString, success);
        QFETCH(bool, refusalBox);
        m_program->Start();
        SuccessCount = 5;
        FailureCount = 6;
        m_program->Click(175);
        W().counterDialog = [&](CounterSettings& settings) {
            settings.successText = success;
            settings.flags = 0x3F;
            return ok;
        };
        m_program->Click(173);
        QCOMPARE(SuccessCount.load(), 5u);
        QCOMPARE(FailureCount.load(), 6u);
        QCOMPARE(AutoCount.load(), 0x11u);
        QCOMPARE(W().FieldText(179), QStringLiteral("00000"));
        QVERIFY((AutoFunc.load() & kFuncCountingPaused) != 0);
        QCOMPARE(W().boxes.size(), std::size_t(refusalBox ? 1 : 0));
        if (refusalBox) {
            QCOMPARE(W().boxes[0].text, Utf8(kBadStartValueText));
        }
    }

    void counterDialogTemplate() {
        SetCount dialog(nullptr, {QStringLiteral("000123"), QStringLiteral("00045"), 0x21});
        QCOMPARE(dialog.windowTitle(), Utf8(kCounterDialogCaption));
        QCOMPARE(dialog.size(), QSize(319, 203));  // 213 x 125 dialog units
        for (const CounterDialogControl& entry : kCounterDialogControls) {
            if (entry.id < 0) {
                continue;
            }
            QWidget* control = dialog.Control(entry.id);
            QVERIFY(control != nullptr);
            QCOMPARE(control->geometry(), QRect(entry.x * 3 / 2, entry.y * 13 / 8,
                                                entry.width * 3 / 2, entry.height * 13 / 8));
            if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                QCOMPARE(button->text(), Utf8(entry.caption));
            }
            QVERIFY(control->focusPolicy() & Qt::TabFocus);
        }
        QVERIFY(static_cast<QPushButton*>(dialog.Control(1))->isDefault());
        QCOMPARE(static_cast<QLineEdit*>(dialog.Control(1006))->text(), QStringLiteral("000123"));
        QCOMPARE(static_cast<QLineEdit*>(dialog.Control(1007))->text(), QStringLiteral("00045"));
        // Bits 0x20 (1000) and 0x01 (1003) are set.
        QVERIFY(static_cast<QCheckBox*>(dialog.Control(1000))->isChecked());
        QVERIFY(static_cast<QCheckBox*>(dialog.Control(1003))->isChecked());
        QVERIFY(!static_cast<QCheckBox*>(dialog.Control(1001))->isChecked());

        // Typing takes digits only; OK reads the edits and the boxes back.
        auto* success = static_cast<QLineEdit*>(dialog.Control(1006));
        success->clear();
        QTest::keyClicks(success, QStringLiteral("12x7"));
        QCOMPARE(success->text(), QStringLiteral("127"));
        QTest::mouseClick(static_cast<QCheckBox*>(dialog.Control(1005)), Qt::LeftButton);
        QTest::mouseClick(static_cast<QCheckBox*>(dialog.Control(1000)), Qt::LeftButton);
        QTest::mouseClick(static_cast<QPushButton*>(dialog.Control(1)), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Settings().successText, QStringLiteral("127"));
        QCOMPARE(dialog.Settings().flags, 0x09u);
    }

    // The edits show the widest start value whole at the fonts this machine really has: a line
    // edit scrolls its text once text and cursor need more than its inner width.
    void counterEditsShowSixDigitsWhole() {
        SetCount dialog(nullptr, {QString(), QString(), 0x21});
        dialog.show();
        for (int id : {1006, 1007}) {
            auto* edit = static_cast<QLineEdit*>(dialog.Control(id));
            edit->setFocus();
            QTest::keyClicks(edit, QStringLiteral("000000"));
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            const int inner =
                edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() -
                2 * kLineEditInnerMargin;
            const int needed = edit->fontMetrics().horizontalAdvance(edit->text()) + 1;
            QVERIFY2(needed <= inner,
                     qPrintable(QStringLiteral("%1: %2 > %3 px").arg(id).arg(needed).arg(inner)));
        }
    }

    void startValueRule() {
        QCOMPARE(CounterStartValue(QStringLiteral("1234567")),
                 std::optional<std::uint32_t>(234567));
        QCOMPARE(CounterStartValue(QString()), std::optional<std::uint32_t>(0));
        QCOMPARE(CounterStartValue(QStringLiteral("007")), std::optional<std::uint32_t>(7));
        QCOMPARE(CounterStartValue(QStringLiteral("4294967295")),
                 std::optional<std::uint32_t>(967295));
        QCOMPARE(CounterStartValue(QStringLiteral("1 2")), std::optional<std::uint32_t>());
    }

    // --- routing --------------------------------------------------------------------------

    void autoProgramAfterAnAddressEditShowsTheAddressBox() {
        m_program->Start();
        W().SetFieldText(131, QStringLiteral("0FFF"));
        m_program->Click(136);
        QCOMPARE(BoxCaptions(), QStringList{Utf8(kAddressChangedCaption)});
        QCOMPARE(W().boxes[0].text, Utf8(kAddressChangedText));
        QCOMPARE(W().boxes[0].icon, MessageIcon::None);
        QCOMPARE(EndAddress.load(), 0xFFFu);
        // Back to the checked range, but no code: the no-code box.
        W().SetFieldText(131, QStringLiteral("1FFF"));
        m_program->Click(136);
        QCOMPARE(W().boxes.back().caption, Utf8(kNoCodeCaption));
        QCOMPARE(W().boxes.back().text, Utf8(kNoCodeText));
        QCOMPARE(W().boxes.back().icon, MessageIcon::Warning);
    }

    void verifyWithoutCodeDoesNotReadTheAddressFields() {
        m_program->Start();
        W().SetFieldText(129, QStringLiteral("0100"));
        m_program->Click(137);
        QCOMPARE(BoxCaptions(), QStringList{Utf8(kNoCodeCaption)});
        QCOMPARE(StartAddress.load(), 0u);
    }

    void bufferChecksumAfterACopyShowsTheOverwrittenBox() {
        m_program->Start();
        CodeLoadedFlag = 1;
        ImageOverwrittenFlag = 1;
        m_program->Click(141);
        QCOMPARE(BoxCaptions(), QStringList{Utf8(kOverwrittenCaption)});
        QCOMPARE(W().boxes[0].text, Utf8(kOverwrittenText));
        ImageOverwrittenFlag = 0;
        CodeLoadedFlag = 0;
        m_program->Click(141);
        QCOMPARE(W().boxes.back().caption, Utf8(kNoCodeCaption));
    }

    void dataFormatBoxesAndVoltageField() {
        m_program->Start();
        RouteCommand(W(), 119, W().Control(104));
        RouteCommand(W(), 120, W().Control(104));
        QCOMPARE(BoxCaptions(), (QStringList{Utf8(kDataFormatCaption), Utf8(kDataFormatCaption)}));
        QCOMPARE(W().boxes[0].text, Utf8(kRiscFormatText));
        QCOMPARE(W().boxes[1].text, Utf8(kArmFormatText));
        RouteCommand(W(), 117, W().Control(103));
        QCOMPARE(W().FieldText(135), QStringLiteral("3.3"));
        RouteCommand(W(), 116, W().Control(103));
        QCOMPARE(W().FieldText(135), QStringLiteral("5.0"));
    }

    void showMemoryBeforeAnyPortSwitchesAndRefusesThePage() {
        m_program->Start();
        m_program->Click(139);
        QVERIFY(W().Control(158)->isVisible());
        QVERIFY(!W().Control(107)->isVisible());
        QVERIFY(W().IsMemoryListPrepared());
        QCOMPARE(W().FieldText(157), Utf8(kNoPortText));
        m_program->Click(166);
        QCOMPARE(W().Group(158)->title(), QString::fromUtf8("芯片代码视图"));
        m_program->Click(168);
        QVERIFY(W().Control(107)->isVisible());
        QCOMPARE(W().FieldText(157), Utf8(kChooseOperationText));
    }

    // An operator tells unavailable choices by their grey captions: after a click on the OTP
    // chip kind the MTP-only options, the other data formats and 3.3V grey out.
    void disabledCaptionsGreyOut_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("CalmRisc") << 119 << false;
        QTest::newRow("ARM") << 120 << false;
        QTest::newRow("3.3V") << 117 << false;
        QTest::newRow("LDC protection, MTP only") << 125 << false;
        QTest::newRow("erase before programming, MTP only") << 126 << false;
        QTest::newRow("5.0V") << 116 << true;
        QTest::newRow("verify") << 121 << true;
    }

    void disabledCaptionsGreyOut() {
        QFETCH(int, id);
        QFETCH(bool, enabled);
        m_program->Start();
        m_program->Click(114);
        QWidget* button = W().Control(id);
        QCOMPARE(button->isEnabled(), enabled);
        const int grey = DarkestCaptionGrey(button);
        if (enabled) {
            QVERIFY2(grey < 60, qPrintable(QString::number(grey)));
        } else {
            QVERIFY2(grey > 100, qPrintable(QString::number(grey)));
        }
    }

    // A message box or the counter dialog closed with Enter: the key's release reaches the
    // button that opened it, which must not open it again.
    void enterThatClosesABoxDoesNotReopenIt_data() {
        QTest::addColumn<int>("id");
        QTest::newRow("自动编程 without code") << 136;
        QTest::newRow("清零 question") << 172;
        QTest::newRow("设置计数器") << 173;
    }

    void enterThatClosesABoxDoesNotReopenIt() {
        QFETCH(int, id);
        m_program->Start();
        W().realDialogs = true;
        int opened = 0;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                ++opened;
                QTest::keyPress(box, Qt::Key_Return);  // its release goes to the main window
            }
        });
        closer.start();
        QWidget* button = W().Control(id);
        button->setFocus();
        QTest::keyPress(button, Qt::Key_Return);
        QTest::keyRelease(button, Qt::Key_Return);  // opens the box, closed by the next press
        QTest::keyRelease(button, Qt::Key_Return);  // that press's release
        QTest::qWait(50);
        QCOMPARE(opened, 1);
    }

    void buzzerBoxFollowsItsMark() {
        m_program->Start();
        m_program->Click(174);
        QCOMPARE(AutoFunc.load() & kFuncBuzzerOn, 0u);
        m_program->Click(174);
        QCOMPARE(AutoFunc.load() & kFuncBuzzerOn, kFuncBuzzerOn);
    }

    // --- shell ----------------------------------------------------------------------------

    void enterDoesNotCloseEscapeClosesAndSaves() {
        m_program->Start();
        QTest::keyClick(&W(), Qt::Key_Return);
        QTest::keyClick(&W(), Qt::Key_Enter);
        QVERIFY(W().isVisible());
        QVERIFY(!QFile::exists(QString::fromStdString(SettingsStore::PathForKey(kSettingsKey))));
        QTest::keyClick(&W(), Qt::Key_Escape);
        QVERIFY(!W().isVisible());
        QCOMPARE(W().result(), int(QDialog::Rejected));
        QCOMPARE(StartedWindow::StoredSettings().GetString(kValueChip), std::string("smtp"));
    }

    void quitButtonClosesAndSaves() {
        m_program->Start();
        m_program->Click(114);
        m_program->Click(154);
        QVERIFY(!W().isVisible());
        QCOMPARE(StartedWindow::StoredSettings().GetString(kValueChip), std::string("sotp"));
    }

    void aboutThanksAndContactBoxes() {
        m_program->Start();
        std::unique_ptr<QMenu> menu(W().CreateContextMenu());
        const int entries = WindowSerial::Available() ? 3 : 2;
        // a separator, the two job entries and the station
        QCOMPARE(menu->actions().size(), entries + 4);
        QCOMPARE(menu->actions()[entries + 1]->text(), Utf8(kOpenJobEntryText));
        QCOMPARE(menu->actions()[entries + 2]->text(), Utf8(kSaveJobEntryText));
        QCOMPARE(menu->actions()[0]->text(), Utf8(kAboutEntryText));
        QCOMPARE(menu->actions()[1]->text(), Utf8(kPortSettingsEntryText));
        if (entries == 3) {
            QCOMPARE(menu->actions()[2]->text(), Utf8(kSerialSettingsEntryText));
        }
        QCOMPARE(menu->actions().back()->text(), Utf8(kStationEntryText));
        QVERIFY(menu->actions().back()->isEnabled());  // no job is open
        bool portDialogShown = false;
        QTimer::singleShot(0, [&portDialogShown] {
            auto* dialog = qobject_cast<PortSettingsDialog*>(QApplication::activeModalWidget());
            portDialogShown = dialog != nullptr;
            if (dialog != nullptr) {
                dialog->reject();
            }
        });
        menu->actions()[1]->trigger();
        QVERIFY(portDialogShown);
        QVERIFY(W().boxes.empty());
        menu->actions()[0]->trigger();
        QCOMPARE(BoxCaptions(), QStringList{QString::fromUtf8("关于KORU V2.0B")});
        QCOMPARE(W().boxes[0].text.count(u'\n'), 6);  // seven lines
        QCOMPARE(W().boxes[0].buttons, MessageButtons::Ok);

        QTest::keyClick(&W(), Qt::Key_F8);
        QCOMPARE(W().boxes.back().caption, QString::fromUtf8("亲爱的用户:"));
        QTest::keyClick(&W(), Qt::Key_F7);
        QCOMPARE(W().boxes.size(), std::size_t{2});

        W().FunctionKey(0x74);  // F5 released on a button
        QCOMPARE(W().boxes.back().caption, QString::fromUtf8("尊敬的用户"));
        W().FunctionKey(0x77);  // F8: the random sequence
        QCOMPARE(W().FieldText(131), QStringLiteral("1FFF"));
        QCOMPARE(W().FieldText(153).size(), 4);
        QVERIFY(W().FieldText(157).startsWith(QString::fromUtf8("随机数序列已产生")));
        W().FunctionKey(0x75);  // F6: nothing
        QCOMPARE(W().boxes.size(), std::size_t{3});
    }

    void portSettingsMappingTakesEffectAndSurvivesARestart() {
        m_program->Start();
        const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0";
        {
            PortSettingsDialog dialog(
                &W(), {DetectedPort{"/dev/ttyS0", "", std::nullopt},
                       DetectedPort{"/dev/ttyUSB0", byId,
                                    UsbDescription{"0403", "6001", "FTDI", "FT232R", "A1B2"}}});
            QCOMPARE(dialog.DeviceList()->rowCount(), 2);
            QCOMPARE(dialog.DeviceList()->item(1, 2)->text(),
                     Utf8("0403:6001 FTDI FT232R 序列号 A1B2"));
            QCOMPARE(dialog.PathEdit(2)->placeholderText(), QStringLiteral("/dev/ttyS1"));
            dialog.DeviceList()->selectRow(1);
            dialog.UseSelectedDeviceFor(2);
            QCOMPARE(dialog.PathEdit(2)->text().toStdString(), byId);
            dialog.PathEdit(4)->setText(QStringLiteral("  /dev/ttyACM0 "));
            dialog.accept();
        }
        QCOMPARE(ComMapping(2), byId);  // the next port selection uses it
        QCOMPARE(ComMapping(4), std::string("/dev/ttyACM0"));

        m_program->Close();
        for (int com = 1; com <= kComPortCount; ++com) {
            SetComMapping(com, "");  // a new process knows only what was saved
        }
        m_program = std::make_unique<StartedWindow>();
        m_program->Start();
        QCOMPARE(ComMapping(1), std::string());
        QCOMPARE(ComMapping(2), byId);
        QCOMPARE(ComMapping(4), std::string("/dev/ttyACM0"));
        QCOMPARE(StartedWindow::StoredSettings().GetString(ComMappingValueName(2)), byId);
    }

    void f8OnAFocusedButtonFillsTheSequenceWithoutABox() {
        m_program->Start();
        QAbstractButton* button = W().ButtonWidget(138);
        button->setFocus();
        QTRY_VERIFY(button->hasFocus());
        QTest::keyClick(button, Qt::Key_F8);
        QVERIFY(W().boxes.empty());
        QVERIFY(W().FieldText(157).startsWith(QString::fromUtf8("随机数序列已产生")));
    }

    // Before the start-up a click and a function key reach nothing; once started, the same click
    // is routed (the clear asks first) and the same key shows its box.
    void clicksAndFunctionKeysActOnlyOnceStarted() {
        W().show();
        QVERIFY(QTest::qWaitForWindowExposed(&W()));
        QTest::mouseClick(W().ButtonWidget(172), Qt::LeftButton);  // "清零"
        W().FunctionKey(0x74);                                     // F5 released on a button
        QVERIFY(W().boxes.empty());

        m_program->Start();
        m_program->Click(172);
        W().FunctionKey(0x74);
        QCOMPARE(BoxCaptions(), (QStringList{Utf8(kClearCaption), Utf8("尊敬的用户")}));
    }

    void rightClickOnTheBackgroundOffersTheAboutEntry() {
        m_program->Start();
        const QPoint background(5, 300);  // between the groups, on the window itself
        QVERIFY(W().childAt(background) == nullptr);
        QContextMenuEvent event(QContextMenuEvent::Mouse, background, W().mapToGlobal(background));
        QApplication::sendEvent(&W(), &event);
        QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        // about, the port settings, (with the line database) the serial settings, and after a
        // separator the two job entries and the station
        QCOMPARE(menu->actions().size(), WindowSerial::Available() ? 7 : 6);
        menu->actions()[0]->trigger();
        menu->close();
        QCOMPARE(BoxCaptions(), QStringList{QString::fromUtf8("关于KORU V2.0B")});
    }

    void waitCursorWhileBusy() {
        m_program->Start();
        BusyFlag = 1;
        W().RefreshCursor();
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        BusyFlag = 0;
        W().RefreshCursor();
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::ShellTest)
#include "shell_test.moc"
