#pragma once

#include <QElapsedTimer>
#include <QGroupBox>
#include <QPoint>
#include <QVector>

#include <cstdint>
#include <vector>

class CCursorWriter;
class IFrameSource;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class QSignPixelWidget;
class QTableWidget;

// The "坏点标记" group of the video page: manual marking on the picture ("标记坏点",
// the X / Y / 灰度 list, "撤销标记"), the picture's enlargement, and the core's own
// crosshair: a click or the arrow keys move it through the cursor writer, Enter and
// Delete confirm and take back, "高亮" / "取消" show and hide it, and the 5 x 5 grid
// shows the live neighbourhood of the cursor.
class VideoMarkPanel : public QGroupBox {
    Q_OBJECT
public:
    VideoMarkPanel(QSignPixelWidget* pSurface, QWidget* parent = nullptr);

    void setFrameSource(IFrameSource* pFrames);
    QVector<QPoint> marks() const { return m_marks; }
    // Detected pixels join the mark list, the overlay and the table (grey values
    // from the image they were found in).
    void appendMarks(const std::vector<QPoint>& points, const std::vector<uint16_t>& image, int nWidth);
    CCursorWriter* cursorWriter() const { return m_pCursor; }

    QString gridText(int cell) const;
    QString gridStyle(int cell) const;
    bool gridVisible() const;

    // Arrow keys, Enter and Delete for the core cursor (not while marking); true when
    // the key was the cursor's.
    bool handleKey(QKeyEvent* event);
    // A page tick: the neighbourhood follows the live picture about once a second.
    void refreshCross();

public slots:
    void On_PixelSwitch(int nState);
    void On_SignPixel();
    void On_BtnToCrossShairs(QPoint pt);
    void On_KeyToCrossShairs(QPoint pt);
    void On_BtnLoadCross();
    void On_BtnDisCross();
    void On_ChangeEnlargeTimes(int nIndex);
    void On_Revoke();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnCursorDone(int nOp, bool bOk);

private:
    bool cursorLinkUsable(bool bReport);
    void showMarks();
    void enterCursorMode();
    void setCursorState(const QString& strText, bool bFailed = false);
    void showHelpOrGrid();

    IFrameSource* m_pFrames = nullptr;
    QSignPixelWidget* m_pSignPixel = nullptr;
    CCursorWriter* m_pCursor = nullptr;
    QCheckBox* m_pChkSignPixel = nullptr;
    QPushButton* m_pBtnRevoke = nullptr;
    QComboBox* m_pCmbEnlargeTimes = nullptr;
    QPushButton* m_pBtnLoadCross = nullptr;
    QPushButton* m_pBtnDisCross = nullptr;
    QTableWidget* m_pTabPixel = nullptr;
    QLabel* m_pLabHelp = nullptr;
    QWidget* m_pWgtGrid = nullptr;
    QLabel* m_pLabGrid[25] = {};

    QVector<QPoint> m_marks;
    bool m_bEnterPending = false;
    bool m_bGridUsed = false;
    QPoint m_confirmPos;
    QElapsedTimer m_crossRefresh;
};
