#pragma once

// The main window's four fonts. Each names its face, cell height in pixels and weight as the
// window was designed; where the system lacks the face the nearest one is used, keeping the
// height, weight and style.

#include <QFont>
#include <QString>

#include "window/control_table.h"

namespace koru {

struct FontDesign {
    const char* face;  // empty: the system's choice
    int height;        // pixels
    int width;         // average character width in pixels, as designed
    int weight;        // 1..1000
    bool italic;
    bool underline;
};

FontDesign WindowFontDesign(WindowFont font);

// The face used for face: itself when the system has it, else the nearest one that shows the
// window's Chinese texts (an empty face gives the application's default face).
QString NearestFace(const QString& face);

// The font, created on first use and kept for the life of the process.
const QFont& GetWindowFont(WindowFont font);

}  // namespace koru
