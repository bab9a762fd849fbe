#pragma once

class QBoxLayout;
class QMenu;

// The history in the main window: configures the recorder from the settings, adds
// "数据库…" to the settings menu and a label to the status strip that reads
// "记录: n 条待上传" while the outbox is not empty and a red "记录未保存" when the
// bench's own file cannot be written (the reason once in a message box).
void addHistoryActions(QMenu* settingsMenu, QBoxLayout* strip);
