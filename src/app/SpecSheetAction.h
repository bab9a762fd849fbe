#pragma once

class ConfigPageWidget;
class SensorExcelSettingDlg;
class QWidget;

// The "配置机芯规格书" menu action: the datasheet dialog, kept as a child of the
// main window from its first use, run modally; when it closes its results go to the
// configuration page by the identified core's sensor type code and core class.
namespace SpecSheetAction {

// The window's dialog (created on the first call).
SensorExcelSettingDlg* dialog(QWidget* window);
// Runs the dialog and hands its results over; true when something was handed over.
bool run(QWidget* window, ConfigPageWidget* page);

} // namespace SpecSheetAction
