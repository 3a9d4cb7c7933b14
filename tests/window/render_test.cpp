// Renders the main window and its memory view into PNG files of the build folder, for a person
// to look at; checks only that the files were written.

#include <QDir>
#include <QPixmap>
#include <QtTest>

#include "core/shared_state.h"
#include "image/memory_view.h"
#include "image/program_memory.h"
#include "tests/support/process_state.h"
#include "tests/window/test_window.h"
#include "window/qt_window_services.h"

namespace koru::test {

class RenderTest : public QObject {
    Q_OBJECT

  private slots:
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
