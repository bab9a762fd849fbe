#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every user message goes through MsgBox: a modal box on the GUI thread (called from
// another thread it is handed to the GUI thread and waited for). Tests install a sink
// that records (title, text) and answers at once, so no test blocks on a modal.
class CustomMessageBox {
public:
    // style 0: OK only; 1: OK and Cancel. Returns 1 for OK, 0 for Cancel.
    static int MsgBox(QWidget* parent, const QString& title, const QString& text, int style = 0);

    using Sink = std::function<int(const QString& title, const QString& text, int style)>;
    static void setSink(Sink sink); // empty sink: real dialogs again
};
