#pragma once

#include "SensorConfig.h"

#include <QHash>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// The detector configuration panel of the configuration page: the vendor list
// "Sensor Type：" and one page of fields per vendor, each with its own button. The
// panel only holds texts; a click emits the button's signal and the page validates and
// writes.
class SensorConfigWidget : public QWidget {
    Q_OBJECT
public:
    explicit SensorConfigWidget(QWidget* parent = nullptr);
    ~SensorConfigWidget() override;

    // The "Sensor Type：" list: 0 GWIC, 1 IRAY, 2 PICO, 3 DALI, 4 WY.
    int vendorIndex() const;
    void setVendorIndex(int nIndex);
    sensorcfg::Vendor vendor() const { return sensorcfg::Vendor(vendorIndex()); }
    // IRAY configuration code area: 0 "0空间", 1 "1空间".
    int IRAYDataArea() const;
    // Follows the running write (a configuration code into four areas takes seconds).
    QProgressBar* progressBar() const { return m_pPgbWrite; }
    void setIRAYDataArea(int nArea);

    // A field of a vendor page, blanks at both ends removed; empty when the page has
    // no such field. The workbook import fills fields through setField.
    QString field(sensorcfg::Vendor vendor, sensorcfg::Item item) const;
    bool setField(sensorcfg::Vendor vendor, sensorcfg::Item item, const QString& strText);

    QString GWICSensorID() const { return field(sensorcfg::Vendor::GWIC, sensorcfg::Item::SensorId); }
    QString GWICData() const { return field(sensorcfg::Vendor::GWIC, sensorcfg::Item::Data); }
    QString GWICMovementType() const { return field(sensorcfg::Vendor::GWIC, sensorcfg::Item::CoreType); }
    QString GWICMovementSerial() const { return field(sensorcfg::Vendor::GWIC, sensorcfg::Item::Batch); }
    QString IRAYSensorID() const { return field(sensorcfg::Vendor::IRAY, sensorcfg::Item::SensorId); }
    QString IRAYData() const { return field(sensorcfg::Vendor::IRAY, sensorcfg::Item::Data); }
    QString IRAYMovementType() const { return field(sensorcfg::Vendor::IRAY, sensorcfg::Item::CoreType); }
    QString IRAYMovementSerial() const { return field(sensorcfg::Vendor::IRAY, sensorcfg::Item::Batch); }
    QString IRAY25Vtemp() const { return field(sensorcfg::Vendor::IRAY, sensorcfg::Item::Vtemp); }
    QString PICOSensorID() const { return field(sensorcfg::Vendor::PICO, sensorcfg::Item::SensorId); }
    QString PICOMovementType() const { return field(sensorcfg::Vendor::PICO, sensorcfg::Item::CoreType); }
    QString PICOMovementSerial() const { return field(sensorcfg::Vendor::PICO, sensorcfg::Item::Batch); }
    QString PICOGFidGSK() const { return field(sensorcfg::Vendor::PICO, sensorcfg::Item::GFidGsk); }
    // "目标值：" as typed, and as a whole number (0 and *ok false when it is not one).
    QString PICOTargetText() const { return field(sensorcfg::Vendor::PICO, sensorcfg::Item::Target); }
    int PICOTarget(bool* ok = nullptr) const;
    QString DALISensorID() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::SensorId); }
    QString DALIMovementType() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::CoreType); }
    QString DALIMovementSerial() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::Batch); }
    QString DALIVBS() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::Vbs); }
    QString DALITINT() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::Tint); }
    QString DALIResponseRatio() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::Response); }
    QString DALISITF() const { return field(sensorcfg::Vendor::DALI, sensorcfg::Item::Sitf); }
    QString WYSensorID() const { return field(sensorcfg::Vendor::WY, sensorcfg::Item::SensorId); }
    QString WYData() const { return field(sensorcfg::Vendor::WY, sensorcfg::Item::Data); }
    QString WYMovementType() const { return field(sensorcfg::Vendor::WY, sensorcfg::Item::CoreType); }
    QString WYMovementSerial() const { return field(sensorcfg::Vendor::WY, sensorcfg::Item::Batch); }

signals:
    void signalVendorChanged(int nIndex);
    void signalGWICSensorIDWrite();
    void signalGWICDataWrite();
    void signalGWICMovementTypeWrite();
    void signalGWICMovementSerialWrite();
    void signalIRAYSensorIDWrite();
    void signalIRAYDataWrite();
    void signalIRAYMovementTypeWrite();
    void signalIRAYMovementSerialWrite();
    void signalIRAY25VtempWrite();
    void signalIRAYNTCC();
    void signalPICOSensorIDWrite();
    void signalPICOMovementTypeWrite();
    void signalPICOMovementSerialWrite();
    void signalPICOCorrect();
    void signalPICOGFidGSKWrite();
    void signalPICOWriteInitBPTable();
    void signalPICOOnekeyConfig();
    void signalDALISensorIDWrite();
    void signalDALIMovementTypeWrite();
    void signalDALIMovementSerialWrite();
    void signalDALIVBSWrite();
    void signalDALITINTWrite();
    void signalDALIResponseRatioWrite();
    void signalDALISITF();
    void signalDALIAutoCorrect();
    void signalWYSensorIDWrite();
    void signalWYDataWrite();
    void signalWYMovementTypeWrite();
    void signalWYICMovementSerialWrite();

private:
    QWidget* SetupVendorPage(sensorcfg::Vendor vendor);
    static int key(sensorcfg::Vendor vendor, sensorcfg::Item item) { return int(vendor) * 100 + int(item); }

    QLabel* m_pLabSensorType = nullptr;
    QComboBox* m_pCbxSensorType = nullptr;
    QStackedWidget* m_pStkVendor = nullptr;
    QComboBox* m_pCbxIRAYDataArea = nullptr;
    QHash<int, QLineEdit*> m_edits;
    QProgressBar* m_pPgbWrite = nullptr;
};
