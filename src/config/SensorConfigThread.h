#pragma once

#include <QThread>

#include <functional>

class ConfigPageWidget;

// One long detector calibration command off the GUI thread: mode 0 NTCC (0xF021),
// mode 1 automatic correction (0xF029). It only talks to the core and reports by
// queued signals to the configuration page; it deletes itself when finished.
class SensorConfigThread : public QThread {
    Q_OBJECT
public:
    enum Mode { ModeNtcc = 0, ModeAutoCorrect = 1 };

    SensorConfigThread(ConfigPageWidget* pPage, int nMode);
    ~SensorConfigThread() override;
    int mode() const { return m_nMode; }
    // Called on the thread after the result has been emitted (the page's runner
    // waits for it).
    void setFinishedHook(std::function<void()> hook) { m_hook = std::move(hook); }

signals:
    void SigIRAYNTCCConfigOKEnd();
    void SigIRAYNTCCConfigFailEnd();
    void signalProccessDlgResult(QString strResult);

protected:
    void run() override;

private:
    int m_nMode;
    std::function<void()> m_hook;
};
