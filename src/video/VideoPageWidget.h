#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

class CCursorWriter;
class CNetConnect;
class DetectPageWidget;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSignPixelWidget;
class QSlider;
class QTableWidget;
class QTimer;

// Page 3 "标定": the live picture of a networked camera with its AGC, the sampling
// rectangles and the status panel; manual bad-pixel marking on the picture and the
// core's own crosshair with the 5 x 5 neighbourhood of its cursor. The main window
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

    int m_nAgcMode = 1;
    int m_nRectSize = 4;
    QVector<QPoint> m_marks;
    bool m_bEnterPending = false;
    QElapsedTimer m_crossRefresh;
};
