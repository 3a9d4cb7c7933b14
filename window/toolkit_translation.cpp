#include "window/toolkit_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace koru {
namespace {

constexpr char kToolkitTranslation[] = "qtbase_zh_CN";

}  // namespace

bool InstallToolkitTranslation(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QString::fromLatin1(kToolkitTranslation),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace koru
