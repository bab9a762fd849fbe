#pragma once

class QAction;
class QLabel;
class QMenu;

// "快速应答模式" in the settings menu: checked, transactions return as soon as the
// reply is in (reply pacing); unchecked, they wait out each poll interval (fixed). The
// choice is kept in the settings ("Pacing") and shown in the status strip's `label`.
QAction* addPacingAction(QMenu* menu, QLabel* label);
