#include "tests/window/shell_fixture.h"

#include <QAbstractButton>
#include <QtTest>

#include "core/settings_words.h"
#include "link/reset_listener.h"
#include "operations/runner.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"

namespace koru::test {

StartedWindow::StartedWindow() {
    m_window = std::make_unique<TestWindow>();
    m_services = std::make_unique<QtWindowServices>(*m_window);
    InstallWindowServices(m_services.get());
}

StartedWindow::~StartedWindow() {
    if (m_window) {
        WaitForThreads();
        Port().Close();
        InstallWindowServices(nullptr);
    }
}

TestWindow& StartedWindow::Start() {
    m_window->OnInitDialog();
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) {
        qWarning("the window was not exposed; the test goes on with it hidden");
    }
    return *m_window;
}

void StartedWindow::Close() {
    m_window->close();
    WaitForThreads();
    Port().Close();
    InstallWindowServices(nullptr);
    m_services.reset();
    m_window.reset();
}

void StartedWindow::Click(int id) {
    QAbstractButton* button = m_window->ButtonWidget(id);
    QVERIFY2(button != nullptr && button->isVisible(), qPrintable(QString::number(id)));
    QTest::mouseClick(button, Qt::LeftButton);
}

SettingsStore StartedWindow::StoredSettings() {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();
    return store;
}

bool StartedWindow::WaitForThreads(int timeoutMs) {
    EndResetListener();
    QElapsedTimer timer;
    timer.start();
    while (LiveOperationWorkers() > 0 || LiveListenerThreads() > 0) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qSleep(1);
        EndResetListener();
    }
    return true;
}

void UseTemporaryConfigFolder(QTemporaryDir& folder) {
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    // Production records of the auto-programming runs stay beside the settings.
    qputenv("XDG_STATE_HOME", folder.path().toUtf8());
}

}  // namespace koru::test
