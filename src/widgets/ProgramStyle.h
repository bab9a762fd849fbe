#pragma once

#include <QString>

class QApplication;
class QPushButton;

// The program's built-in images and its style sheet.
namespace ProgramStyle {

// Registers the compiled-in images (":/Resources/...") and the style sheet. Safe to
// call more than once.
void initResources();

// The whole program's style sheet (empty when the resource is missing).
QString styleSheet();

// Registers the resources and applies the style sheet and the CJK-capable font to
// the application. False when the style sheet could not be loaded.
bool apply(QApplication& app);

// Workflow buttons: the next step is drawn with ":/Resources/btns_1.png", a finished
// step with ":/Resources/btns_2.png", anything else as a plain button.
enum class StepState { Plain, Next, Finished };
void setStepState(QPushButton* button, StepState state);
StepState stepState(const QPushButton* button);

} // namespace ProgramStyle
