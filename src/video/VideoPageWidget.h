#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class CCursorWriter;
class CPixelDetector;
class CNetConnect;
class DetectPageWidget;
class DeviceTaskContext;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSignPixelWidget;
class QSlider;
class QTableWidget;
class QTabWidget;
class QTimer;

// Page 3 "标定": the live picture of a networked camera with its AGC, the sampling
// rectangles and the status panel; manual bad-pixel marking on the picture and the
// core's own crosshair with the 5 x 5 neighbourhood of its cursor; the bad-pixel
// table tools (automatic detection, table from the marks, reset, send, shutter
// correction), which run on the device runner with the page disabled. The main window
// hands it the sensor ID, the calibration page and, when the stream starts, the link.
class VideoPageWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int kValueLabels = 14;

    explicit VideoPageWidget(QWidget* parent = nullptr);
    ~VideoPageWidget() override;

    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }
    void setDetectPage(DetectPageWidget* pDetect);
    DetectPageWidget* detectPage() const { return m_pDetect; }
    // The link whose stream the page shows (null: no stream).
    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }

    // Waits 50 ms, then ticks every 50 ms. Stopping also resets the value labels.
    void startPageTimer();
    void stopPageTimer();
    bool isPageTimerActive() const;
    bool isPageTimerPending() const;

    // Stops the network link's stream; the link stays logged in.
    void stopStream();

    // For tests and the screenshot.
    QSignPixelWidget* pictureSurface() const { return m_pSignPixel; }
    QVector<QPoint> marks() const { return m_marks; }
    QString valueText(int index) const; // status values in caption order
    QString meanText() const;
    QString gridText(int cell) const;
    QString gridStyle(int cell) const;
    bool gridVisible() const;
    CCursorWriter* cursorWriter() const { return m_pCursor; }

public slots:
    void OnPageTimer();
    void OnChangeAGCMode(int nIndex);
    void On_ModifyRect();
    void On_HRectHMove(int nValue);
    void On_HRectVMove(int nValue);
    void On_LRectHMove(int nValue);
    void On_LRectVMove(int nValue);
    void On_PixelSwitch(int nState);
    void On_SignPixel();
    void On_BtnToCrossShairs(QPoint pt);
    void On_KeyToCrossShairs(QPoint pt);
    void On_BtnLoadCross();
    void On_BtnDisCross();
    void On_ChangeEnlargeTimes(int nIndex);
    void On_Revoke();
    void On_BtnAutoDetect();
    void On_CreatePixel();
    void On_ReSet();
    void On_BtnSendPixel();
    void On_ShutterCorrect();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnCursorDone(int nOp, bool bOk);

private:
    void setupUi();
    void loadRectSettings();
    void applyRects();
    void resetValueLabels();
    void updateStatusPanel();
    bool cursorLinkUsable(bool bReport);
    void setupPixelTools(QWidget* grpPixel);
    bool readThresholdEdits(int* nHigh, int* nLow);
    bool checkTableTarget();
    bool runPixelTask(const std::function<bool(DeviceTaskContext&)>& task, const std::function<void(bool)>& done);
    // Detected pixels join the mark list, the overlay and the table (grey values
    // from the image they were found in).
    void appendMarks(const std::vector<QPoint>& points, const std::vector<uint16_t>& image, int nWidth);

    QString m_strSensorId;
    DetectPageWidget* m_pDetect = nullptr;
    CNetConnect* m_pNet = nullptr;
    QTimer* m_pStartDelay = nullptr;
    QTimer* m_pPageTimer = nullptr;
    CCursorWriter* m_pCursor = nullptr;

    QScrollArea* m_pScrPicture = nullptr;
    QSignPixelWidget* m_pSignPixel = nullptr;
    QLabel* m_pLabStream = nullptr;
    QLabel* m_pLabMean = nullptr;
    QLabel* m_pLabValues[kValueLabels] = {};
    QComboBox* m_pCmbAgc = nullptr;
    QLineEdit* m_pEdtRectSize = nullptr;
    QSlider* m_pSldHighH = nullptr;
    QSlider* m_pSldHighV = nullptr;
    QSlider* m_pSldLowH = nullptr;
    QSlider* m_pSldLowV = nullptr;
    QPushButton* m_pBtnModifyRect = nullptr;
    QCheckBox* m_pChkSignPixel = nullptr;
    QPushButton* m_pBtnRevoke = nullptr;
    QComboBox* m_pCmbEnlargeTimes = nullptr;
    QPushButton* m_pBtnLoadCross = nullptr;
    QPushButton* m_pBtnDisCross = nullptr;
    QTableWidget* m_pTabPixel = nullptr;
    QLabel* m_pLabHelp = nullptr;
    QWidget* m_pWgtGrid = nullptr;
    QLabel* m_pLabGrid[25] = {};
    QTabWidget* m_pTabTools = nullptr;
    QLineEdit* m_pEdtHThrd = nullptr;
    QLineEdit* m_pEdtLThrd = nullptr;
    QComboBox* m_pCmbSolution = nullptr;
    QPushButton* m_pBtnAutoDetect = nullptr;
    QPushButton* m_pBtnCreatePixel = nullptr;
    QPushButton* m_pBtnReSet = nullptr;
    QPushButton* m_pBtnSendPixel = nullptr;
    QPushButton* m_pBtnShutterCorrect = nullptr;
    QProgressBar* m_pPrgPixel = nullptr;

    int m_nAgcMode = 1;
    int m_nRectSize = 4;
    QVector<QPoint> m_marks;
    bool m_bEnterPending = false;
    QElapsedTimer m_crossRefresh;
    std::unique_ptr<CPixelDetector> m_pDetector; // created on first use
};
