#pragma once

#include "DeviceRunner.h"
#include "TransferContext.h"

// Hands a transfer sequence's progress, status and messages to the device runner
// that runs it (and so to the page's progress bar and the message box).
class CPageTransferContext : public TransferContext {
public:
    explicit CPageTransferContext(DeviceTaskContext& task)
        : m_task(task)
    {
    }
    void setProgress(int percent) override { m_task.setProgress(percent); }
    void setStatus(const QString& text) override { m_task.setStatus(text); }
    void message(const QString& title, const QString& text) override { m_task.message(title, text, 0); }
    bool cancelled() const override { return m_task.cancelled(); }

private:
    DeviceTaskContext& m_task;
};
