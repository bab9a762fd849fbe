#pragma once

#include <QGroupBox>

class IFrameSource;
class QComboBox;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSignPixelWidget;
class QSlider;

// The "显示" group of the video page: AGC mode, the sampling rectangles (size and the
// four position sliders, saved by "修改矩形框") and the picture itself, a scroll area
// around the surface the render paints. The picture is its own widget so that the
// page can place it apart from the group.
class VideoDisplayPanel : public QGroupBox {
    Q_OBJECT
public:
    explicit VideoDisplayPanel(QWidget* parent = nullptr);

    // Hands the stream's render to the surface with this panel's AGC and rectangles.
    void setFrameSource(IFrameSource* pFrames);
    QScrollArea* pictureArea() const { return m_pScrPicture; }
    QSignPixelWidget* surface() const { return m_pSignPixel; }

public slots:
    void OnChangeAGCMode(int nIndex);
    void On_ModifyRect();
    void On_HRectHMove(int nValue);
    void On_HRectVMove(int nValue);
    void On_LRectHMove(int nValue);
    void On_LRectVMove(int nValue);

private:
    void loadRectSettings();
    void applyRects();

    IFrameSource* m_pFrames = nullptr;
    QScrollArea* m_pScrPicture = nullptr;
    QSignPixelWidget* m_pSignPixel = nullptr;
    QComboBox* m_pCmbAgc = nullptr;
    QLineEdit* m_pEdtRectSize = nullptr;
    QSlider* m_pSldHighH = nullptr;
    QSlider* m_pSldHighV = nullptr;
    QSlider* m_pSldLowH = nullptr;
    QSlider* m_pSldLowV = nullptr;
    QPushButton* m_pBtnModifyRect = nullptr;
    int m_nAgcMode = 1;
    int m_nRectSize = 4;
};
