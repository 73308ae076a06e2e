#pragma once

class QCoreApplication;

namespace pavrel {

// Loads the program's translation for the system's languages (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG), and Qt's own for its standard buttons and dialogs where installed. English needs
// none: the texts in the code are the English ones.
void InstallTranslations(QCoreApplication& Application);

}  // namespace pavrel
