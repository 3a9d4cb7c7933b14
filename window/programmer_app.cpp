#include "window/programmer_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/reset_listener.h"
#include "operations/runner.h"
#include "window/programmer_dlg.h"
#include "window/qt_window_services.h"
#include "window/station/station_window.h"
#include "window/toolkit_translation.h"

namespace koru {
namespace {

// The name the application registers under; the settings use their own key.
constexpr char kApplicationKeyName[] = "应用程序向导生成的本地应用程序";

// On Windows the text is drawn with FreeType, as on Linux, not with DirectWrite or GDI: the
// window's pixel layout and its fonts' stretch to the designed character widths were made
// with FreeType's metrics, and under Wine the other two engines draw the address and counter
// fields (stretched, weight 580) empty. QT_QPA_PLATFORM or -platform still choose otherwise.
void ChooseTextRendering() {
#ifdef Q_OS_WIN
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
    }
#endif
}

}  // namespace

int CProgrammerApp::Run(int argc, char** argv) {
    ChooseTextRendering();
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromUtf8(kApplicationKeyName));
    if (!InstallToolkitTranslation(application)) {
        std::fprintf(stderr,
                     "koru: the toolkit's Chinese texts are not installed "
                     "(qt6-translations-l10n); standard dialogs speak English\n");
    }

    // koru --station [--ports A,B,...] --code FILE [koru-cli options]: the station alone.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && arguments[1] == QStringLiteral("--station")) {
        std::vector<std::string> words;
        for (qsizetype i = 2; i < arguments.size(); ++i) {
            words.push_back(arguments[i].toStdString());
        }
        StationSetup setup;
        std::string error;
        if (!StationSetupFromArguments(words, setup, error)) {
            std::fprintf(stderr, "koru --station: %s\n", error.c_str());
            return 3;
        }
        StationWindow station(setup);
        station.show();
        return application.exec();
    }

    CProgrammerDlg window;
    QtWindowServices services(window);
    InstallWindowServices(&services);
    window.OnInitDialog();
    WindowStarted(window);
    window.exec();  // the settings are saved as the window ends

    // Nothing waits for a running worker or listener: the window never joins a thread that is
    // still working, and they use the process's globals (port, image, command block, the
    // window services). Returning would destroy the window and the services and then run the
    // static destructors under them, so while any of them lives the process ends here, without
    // destructors; the kernel closes the port. Only the window's thread starts such threads,
    // so none can begin after this check.
    if (LiveOperationWorkers() > 0 || LiveListenerThreads() > 0) {
        std::fflush(nullptr);
        std::_Exit(EXIT_SUCCESS);
    }
    InstallWindowServices(nullptr);
    return EXIT_SUCCESS;
}

}  // namespace koru
