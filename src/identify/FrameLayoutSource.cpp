#include "FrameLayoutSource.h"

#include "CameraInfoDataManager.h"

CFindFrame::LayoutProvider identifiedLayoutProvider()
{
    CameraInfoDataManager::instance();
    return [] {
        CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
        AddInfoLayout l;
        l.coreClass = mgr->coreClass();
        l.sensorType = mgr->sensorTypeCode();
        const QSize s = mgr->frameSize();
        l.coreWidth = s.width();
        l.coreHeight = s.height();
        return l;
    };
}

CFindFrame::AddInfoSink identifiedAddInfoSink()
{
    CameraInfoDataManager::instance();
    return [](const FrameAddInfo& info) { CameraInfoDataManager::instance()->setFrameAddInfo(info); };
}
