#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class CNetConnect;
class QLabel;

// Page 1 "配置": file writing and read-back, command console and detector
// configuration of the identified core. The main window hands it the network link
// and the sensor ID after identification and clears its history on disconnect.
class ConfigPageWidget : public QWidget {
    Q_OBJECT
public:
    explicit ConfigPageWidget(QWidget* parent = nullptr);
    ~ConfigPageWidget() override;

    // Null when the core is reached over a local serial port.
    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }
    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }

    // Detector vendor from the core's sensor type code: 0 GWIC, 1 IRAY, 2 PICO,
    // 4 DALI, 5 WY; any other code GWIC.
    static QStringList vendorNames();
    static int vendorIndexFor(int nSensorTypeCode);
    void selectVendorPage(int nSensorTypeCode);
    int vendorIndex() const { return m_nVendorIndex; }

    // On disconnect: forget the frames shown in the command history.
    void clearCmdHistory();

private:
    void updateInfo();

    CNetConnect* m_pNet = nullptr;
    QString m_strSensorId;
    int m_nVendorIndex = 0;
    QLabel* m_pLabTitle = nullptr;
    QLabel* m_pLabSensorId = nullptr;
    QLabel* m_pLabVendor = nullptr;
};
