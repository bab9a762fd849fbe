#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class CFrameRecorder;
class IFrameSource;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The "录制" tab of the video page: "生成一帧" saves the next raw frame, "录制视频"
// ("录制中" while it runs) records the stream with its temperature log, both into the
// core's "Occ" folder, named by date and time. The interval "采样间隔：" (ms) is kept
// as "SampFreq". The recording stops with its reason on a write error, a change of
// frame size, the end of the stream, and when the page goes.
class VideoRecordPanel : public QWidget {
    Q_OBJECT
public:
    explicit VideoRecordPanel(QWidget* parent = nullptr);
    ~VideoRecordPanel() override;

    void setSensorId(const QString& strSensorId);
    void setFrameSource(IFrameSource* pFrames);
    // The stream is stopping (disconnect, stream off): the recording ends here.
    void streamStopped();

    CFrameRecorder* recorder() const { return m_pRecorder; }
    QString stateText() const;

public slots:
    void On_BtnCreateOneFrame();
    void On_BtnVedioRecord(bool bChecked);

private:
    QString occDir() const;
    void showRecording(bool bOn);
    void onStopped(const QString& strReason);
    void refreshState();

    QString m_strSensorId;
    IFrameSource* m_pFrames = nullptr;
    CFrameRecorder* m_pRecorder = nullptr;
    QPushButton* m_pBtnCreateOneFrame = nullptr;
    QPushButton* m_pBtnVedioRecord = nullptr;
    QLineEdit* m_pEdtSampFreq = nullptr;
    QLabel* m_pLabRecordState = nullptr;
    QTimer* m_pStateTimer = nullptr;
    QElapsedTimer m_clock;
};
