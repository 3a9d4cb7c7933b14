// Renders the main window, its memory view, the OTP state, a message box and a file dialog (the
// toolkit's texts in Chinese) and the whole screen with the window on it into PNG files of the
// build folder, for a person to look at; checks that the files were written and that the window
// sits in the middle of the screen.

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QtTest>

#include "core/shared_state.h"
#include "image/memory_view.h"
#include "image/program_memory.h"
#include "tests/support/process_state.h"
#include "tests/window/test_window.h"
#include "window/qt_window_services.h"
#include "window/set_count_dialog.h"
#include "window/toolkit_translation.h"

namespace koru::test {

class RenderTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(InstallToolkitTranslation(*qApp)); }

    void init() { ResetProcessState(); }

    void mainWindow() {
        TestWindow window;
        window.SetFieldText(147, QStringLiteral("/home/user/code/demo.hex"));
        window.SetFieldText(153, QStringLiteral("3FC0"));
        window.SetStatusText(QStringLiteral("请选择编程操作"));
        window.SetWindowRegion(kRegionCountersShown);
        window.show();
        QVERIFY(Save(window, QStringLiteral("main_window.png")));
        window.SetWindowRegion(kRegionCountersHidden);
        QVERIFY(Save(window, QStringLiteral("main_window_counters_hidden.png")));
    }

    // The OTP chip kind: the MTP-only options, the other data formats and 3.3V in grey.
    void otpState() {
        TestWindow window;
        window.SetWindowRegion(kRegionCountersShown);
        window.SetMarked(114, true);
        window.ApplyChipKind(114);
        window.show();
        QVERIFY(Save(window, QStringLiteral("main_window_otp.png")));
    }

    // The window in the middle of the screen, and the screen as a whole.
    void centredOnTheScreen() {
        TestWindow window;
        window.SetWindowRegion(kRegionCountersShown);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QScreen* screen = window.screen();
        const QPoint offset =
            window.frameGeometry().center() - screen->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 1,
                 qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
        const QString path = QDir::current().absoluteFilePath(QStringLiteral("screen.png"));
        QVERIFY(screen->grabWindow(0).save(path));
        qInfo("%s", qPrintable(path));
    }

    // The real boxes and file dialogs of the window, grabbed while they run.
    void standardDialogsInChinese() {
        CProgrammerDlg window;
        window.show();
        bool boxSaved = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            boxSaved = box != nullptr && Save(*box, QStringLiteral("message_box.png"));
            QTest::keyClick(box, Qt::Key_Escape);
        });
        window.ShowMessage(QStringLiteral("确 认"), QStringLiteral("计数器将被清零!确定吗?"),
                           MessageIcon::Question, MessageButtons::OkCancel);
        QVERIFY(boxSaved);

        bool dialogSaved = false;
        QTimer::singleShot(100, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            dialogSaved = dialog != nullptr && Save(*dialog, QStringLiteral("file_dialog.png"));
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        window.RunFileDialog(FileDialogKind::Save,
                             ToQtFileFilter("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||"));
        QVERIFY(dialogSaved);
    }

    // The counter dialog with six-digit start values.
    void counterDialog() {
        SetCount dialog(nullptr, {QStringLiteral("000000"), QStringLiteral("999999"), 0x21});
        dialog.show();
        QVERIFY(Save(dialog, QStringLiteral("counter_dialog.png")));
    }

    void memoryView() {
        TestWindow window;
        QtWindowServices services(window);
        InstallWindowServices(&services);
        for (std::uint32_t i = 0; i < 0x100; ++i) {
            ProgramMemory[0x100 + i] = static_cast<std::uint8_t>(i);
        }
        window.SetWindowRegion(kRegionCountersShown);
        window.ShowMemoryView(true);
        window.PrepareMemoryList();
        window.show();
        ShowMemoryPage(kShowPageNext);
        QVERIFY(Save(window, QStringLiteral("memory_view.png")));
        window.SetMarked(167, true);
        ShowMemoryPage(kShowPageMode);
        QVERIFY(Save(window, QStringLiteral("memory_view_ascii.png")));
        InstallWindowServices(nullptr);
    }

  private:
    static bool Save(QWidget& window, const QString& name) {
        const QString path = QDir::current().absoluteFilePath(name);
        const bool saved = window.grab().save(path);
        qInfo("%s", qPrintable(path));
        return saved;
    }
};

}  // namespace koru::test

QTEST_MAIN(koru::test::RenderTest)
#include "render_test.moc"
