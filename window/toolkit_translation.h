#pragma once

// The toolkit's own texts (the buttons of message boxes, the file dialogs and their messages) in
// the window's language, from the toolkit's installed translations. The window's own texts are
// Chinese already and are not affected.

class QCoreApplication;

namespace koru {

// Installs the toolkit's Chinese translation into application. Returns false, and the toolkit
// keeps its English texts, when the translation is not installed.
bool InstallToolkitTranslation(QCoreApplication& application);

}  // namespace koru
