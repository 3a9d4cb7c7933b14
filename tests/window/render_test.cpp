// Renders the main window (also in the OTP state and on its screen), its memory view, a message
// box, a file dialog and the counter dialog into PNG files of the build folder, for a person to
// look at; checks that the files were written and that the window sits in the screen's middle.

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QtTest>

#include "core/shared_state.h"
#include "image/memory_view.h"
#include "image/program_memory.h"
#include "operations/read_block.h"
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

    // Also the OTP state (MTP-only options, other data formats and 3.3V grey) and the whole
    // screen, with the window in its middle.
    void mainWindow() {
        TestWindow window;
        window.SetFieldText(147, QStringLiteral("/home/user/code/demo.hex"));
        window.SetFieldText(153, QStringLiteral("3FC0"));
        window.SetStatusText(QStringLiteral("请选择编程操作"));
        window.SetWindowRegion(kRegionCountersShown);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QScreen* screen = window.screen();
        QCOMPARE(window.frameGeometry().center(), screen->availableGeometry().center());
        QVERIFY(screen->grabWindow(0).save(QDir::current().absoluteFilePath("screen.png")));
        QVERIFY(Save(window, QStringLiteral("main_window.png")));
        window.SetMarked(114, true);
        window.ApplyChipKind(114);
        QVERIFY(Save(window, QStringLiteral("main_window_otp.png")));
        window.SetWindowRegion(kRegionCountersHidden);
        QVERIFY(Save(window, QStringLiteral("main_window_counters_hidden.png")));
    }

    // The real message box and file dialog, grabbed while they run; the counter dialog.
    void dialogs() {
        CProgrammerDlg window;
        window.show();
        QStringList saved;
        auto grabAndClose = [&saved](const QString& name) {
            QWidget* dialog = QApplication::activeModalWidget();
            if (dialog != nullptr && Save(*dialog, name)) {
                saved << name;
            }
            QTest::keyClick(dialog, Qt::Key_Escape);
        };
        QTimer::singleShot(0, [&] { grabAndClose(QStringLiteral("message_box.png")); });
        window.ShowMessage(QStringLiteral("确 认"), QStringLiteral("计数器将被清零!确定吗?"),
                           MessageIcon::Question, MessageButtons::OkCancel);
        QTimer::singleShot(100, [&] { grabAndClose(QStringLiteral("file_dialog.png")); });
        window.RunFileDialog(FileDialogKind::Save,
                             ToQtFileFilter("hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||"));
        QCOMPARE(saved.size(), 2);
        SetCount counters(nullptr, {QStringLiteral("000000"), QStringLiteral("999999"), 0x21});
        counters.show();
        QVERIFY(Save(counters, QStringLiteral("counter_dialog.png")));
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
        ShowMemoryPage(kShowPageNext, ReadBlockFromChip);
        QVERIFY(Save(window, QStringLiteral("memory_view.png")));
        window.SetMarked(167, true);
        ShowMemoryPage(kShowPageMode, ReadBlockFromChip);
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
