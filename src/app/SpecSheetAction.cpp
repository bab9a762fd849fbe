#include "SpecSheetAction.h"

#include "IrBenchDlg.h"

#include "CameraInfoDataManager.h"
#include "SensorExcelSettingDlg.h"

#include <QWidget>

namespace SpecSheetAction {

SensorExcelSettingDlg* dialog(QWidget* window)
{
    auto* dlg = window->findChild<SensorExcelSettingDlg*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dlg)
        dlg = new SensorExcelSettingDlg(window);
    return dlg;
}

bool run(QWidget* window, ConfigPageWidget* page)
{
    SensorExcelSettingDlg* dlg = dialog(window);
    dlg->resetResults();
    dlg->RunModal();
    dlg->cancelWork();
    CameraInfoDataManager* info = CameraInfoDataManager::instance();
    return dlg->handOver(page, info->sensorTypeCode(), info->coreClass());
}

} // namespace SpecSheetAction

// The main window's menu slot lives here, beside what it opens.
void IrBenchDlg::onSetSensorExcel()
{
    SpecSheetAction::run(this, m_pConfigPage);
}
