#pragma once

class QCoreApplication;

// Qt's own texts (file and folder choosers, standard buttons) in Chinese, like the
// rest of the program, whatever the machine's locale. False when Qt's Chinese
// catalogue is not installed (the standard dialogs then stay in English).
bool installQtTranslations(QCoreApplication& app);
