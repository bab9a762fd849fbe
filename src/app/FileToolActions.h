#pragma once

class QProgressBar;
class QWidget;

// The menu side of the two file tools: ask for the input with the file chooser, run
// the conversion off the GUI thread through the device runner (the window keeps
// painting and the bar shows progress), then report the outcome in a message box.
namespace FileToolActions {

// False when no file was chosen or another operation is running (the operator is
// told); true once the conversion has been started. The outcome is reported when it
// ends.
bool runByteInvert(QWidget* page, QProgressBar* bar);
bool runChecksum(QWidget* page, QProgressBar* bar);

} // namespace FileToolActions
