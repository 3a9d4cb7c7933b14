#include "window/window_fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <algorithm>
#include <cmath>
#include <map>

namespace koru {
namespace {

constexpr char kDialogFace[] = "MS Shell Dlg";
// Faces close to the dialog face of a Chinese system, in order of preference.
constexpr const char* kNearFaces[] = {"SimSun",           "NSimSun",
                                      "Microsoft YaHei",  "WenQuanYi Micro Hei",
                                      "Noto Sans CJK SC", "Droid Sans Fallback"};

// Qt's limits for a font's stretch factor, in percent.
constexpr int kMinStretch = 1;
constexpr int kMaxStretch = 4000;
constexpr int kMinPixelSize = 6;

}  // namespace

FontDesign WindowFontDesign(WindowFont font) {
    switch (font) {
        case WindowFont::Controls:
            return {kDialogFace, 12, 6, 400, false, false};
        case WindowFont::Fields:
            return {"", 16, 8, 580, false, false};
        case WindowFont::Link:
            return {kDialogFace, 18, 7, 600, true, true};
        case WindowFont::MemoryList:
            return {kDialogFace, 12, 5, 500, false, false};
    }
    return {kDialogFace, 12, 6, 400, false, false};
}

QString NearestFace(const QString& face) {
    if (face.isEmpty()) {
        return QApplication::font().family();
    }
    if (QFontDatabase::hasFamily(face)) {
        return face;
    }
    for (const char* near : kNearFaces) {
        if (QFontDatabase::hasFamily(QString::fromUtf8(near))) {
            return QString::fromUtf8(near);
        }
    }
    return QApplication::font().family();
}

const QFont& GetWindowFont(WindowFont which) {
    static std::map<WindowFont, QFont> fonts;
    auto it = fonts.find(which);
    if (it == fonts.end()) {
        const FontDesign design = WindowFontDesign(which);
        QFont font(NearestFace(QString::fromUtf8(design.face)));
        font.setWeight(static_cast<QFont::Weight>(design.weight));
        font.setItalic(design.italic);
        font.setUnderline(design.underline);
        // The height is the character cell (ascent plus descent), as the window was designed:
        // the largest pixel size whose cell fits in it.
        int pixels = design.height;
        font.setPixelSize(pixels);
        while (pixels > kMinPixelSize && QFontMetrics(font).height() > design.height) {
            font.setPixelSize(--pixels);
        }
        // The designed average character width is kept by stretching the face to it.
        const int natural = QFontMetrics(font).averageCharWidth();
        if (natural > 0 && natural != design.width) {
            const int stretch = static_cast<int>(std::lround(100.0 * design.width / natural));
            font.setStretch(std::clamp(stretch, kMinStretch, kMaxStretch));
        }
        it = fonts.emplace(which, font).first;
    }
    return it->second;
}

}  // namespace koru
