// The configuration page's "文件写入" group, read-back buttons and OCC buttons.
#include "ConfigPageWidget.h"

#include "CDevice.h"
#include "CPageTransferContext.h"
#include "CWriteFileTypes.h"
#include "CustomMessageBox.h"
#include "FileChooser.h"
#include "FileTransfer.h"
#include "Pace.h"
#include "PathText.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSaveFile>

namespace {

void info(const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), text, 0);
}

// Turns a ".dat" text table into the ".bin" beside it before anything is sent. An
// operator's own ".bin" of that name is replaced only when they agree; a table
// without a single number is refused rather than written as zeros.
bool prepareDatFile(const QString& strText, int nValueBytes, QString* pBin)
{
    DatTable table;
    if (!readDatTable(strText, nValueBytes, &table)) {
        info(withFileLine(QStringLiteral("文件打开失败"), strText));
        return false;
    }
    if (table.numericLines == 0) {
        info(withFileLine(QStringLiteral("文件中没有数值,未写入"), strText));
        return false;
    }
    const QString strBin = datBinaryPath(strText);
    QFile existing(strBin);
    if (existing.exists()) {
        const bool bSame = existing.open(QIODevice::ReadOnly) && existing.size() == table.bytes.size()
                           && existing.readAll() == table.bytes;
        existing.close();
        if (!bSame
            && CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                                        withFileLine(QStringLiteral("转换结果与已有的同名文件不同,是否替换该文件?"),
                                                     strBin),
                                        1)
                   != 1)
            return false;
    }
    QSaveFile out(strBin);
    if (!out.open(QIODevice::WriteOnly) || out.write(table.bytes) != table.bytes.size() || !out.commit()) {
        info(withFileLine(QStringLiteral("保存文件失败（磁盘已满或无写权限）"), strBin));
        return false;
    }
    *pBin = strBin;
    return true;
}

} // namespace

void ConfigPageWidget::OnWriteTypeChanged(int nIndex)
{
    const QStringList areas = CWriteFileTypes::areaCaptions(nIndex);
    const bool bAreas = nIndex != CWriteFileTypes::TypeOcc && !areas.isEmpty();
    m_pLabWriteAddr->setVisible(bAreas);
    m_pCbxWriteAddr->setVisible(bAreas);
    if (bAreas) {
        m_pCbxWriteAddr->clear();
        m_pCbxWriteAddr->addItems(areas);
    }
    // A file chosen for another type must not go to this type's areas.
    m_pCbxFilePath->clear();
    m_pCbxFilePath->setToolTip(QString());
}

void ConfigPageWidget::OnScanFile()
{
    const QString strPath = FileChooser::getOpenFileName(
        nullptr, QStringLiteral("打开文件"), QString(), CWriteFileTypes::filter(m_pCbxWriteType->currentIndex()));
    if (strPath.isEmpty())
        return;
    int nIndex = m_pCbxFilePath->findText(strPath, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (nIndex < 0) {
        m_pCbxFilePath->addItem(strPath);
        nIndex = m_pCbxFilePath->count() - 1;
    }
    m_pCbxFilePath->setCurrentIndex(nIndex);
    m_pCbxFilePath->setToolTip(strPath);
}

void ConfigPageWidget::OnWriteFile()
{
    const QString strPath = m_pCbxFilePath->currentText().trimmed();
    if (strPath.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("请先选择文件"), 0);
        return;
    }
    const int nType = m_pCbxWriteType->currentIndex();
    QVector<uint32_t> targets;
    if (nType == CWriteFileTypes::TypeOcc) {
        targets = CWriteFileTypes::occAddresses();
    } else {
        const uint32_t address = CWriteFileTypes::address(nType, m_pCbxWriteAddr->currentIndex());
        if (address == CWriteFileTypes::kNoAddress) {
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("请选择写入区域！"), 0);
            return;
        }
        targets << address;
    }
    const int nValueBytes = CWriteFileTypes::datValueBytes(nType);
    // Text tables become binary beside the text file before the core is touched;
    // FPGA images and TEC frames are always sent as they are.
    QString strSend = strPath;
    const bool bConverted = nValueBytes > 0 && isDatPath(strPath);
    // Without a device nothing is converted; the runner says why nothing starts.
    if (bConverted && CDevice::Current() && !prepareDatFile(strPath, nValueBytes, &strSend))
        return;

    runSequence(
        [strSend, targets](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            for (int i = 0; i < targets.size(); ++i) {
                if (targets.size() > 1)
                    ctx.setStatus(QStringLiteral("正在写入第 %1/%2 个区域").arg(i + 1).arg(targets.size()));
                if (!writeFileToCore(ctx, targets[i], strSend))
                    return false;
                Pace::sleepMs(1000); // the core finishes storing before the next write
            }
            ctx.setStatus(QString());
            return true;
        },
        [strSend, bConverted](bool ok) {
            if (ok)
                info(bConverted ? withFileLine(QStringLiteral("升级完成"), strSend) : QStringLiteral("升级完成"));
        },
        true);
}

void ConfigPageWidget::readBack(int nSelector, const QString& strFileName)
{
    const QString strDir = readBackFolder();
    if (!QDir().mkpath(strDir)) {
        info(QStringLiteral("无法创建文件夹：%1").arg(QDir::toNativeSeparators(strDir)));
        return;
    }
    const QString strOut = strDir + strFileName;
    runSequence(
        [nSelector, strOut](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return readBackToFile(ctx, nSelector, strOut, ReadBackVariant::ConfigPage);
        },
        [strOut](bool ok) {
            if (ok)
                info(withFileLine(QStringLiteral("升级完成"), strOut));
        },
        true);
}

void ConfigPageWidget::On_BtnReadPixel() { readBack(1, QStringLiteral("/Pixel.bin")); }
void ConfigPageWidget::On_BtnReadOcc1() { readBack(2, QStringLiteral("/Occ1.bin")); }
void ConfigPageWidget::On_BtnReadOcc2() { readBack(3, QStringLiteral("/Occ2.bin")); }
void ConfigPageWidget::On_BtnReadOcc3() { readBack(4, QStringLiteral("/Occ3.bin")); }
void ConfigPageWidget::On_BtnReadOcc4() { readBack(5, QStringLiteral("/Occ4.bin")); }
void ConfigPageWidget::On_BtnReadK1() { readBack(6, QStringLiteral("/K1.bin")); }
void ConfigPageWidget::On_BtnReadK2() { readBack(7, QStringLiteral("/K2.bin")); }
void ConfigPageWidget::On_BtnReadK3() { readBack(8, QStringLiteral("/K3.bin")); }
void ConfigPageWidget::On_BtnReadK4() { readBack(9, QStringLiteral("/K4.bin")); }
void ConfigPageWidget::On_BtnReadData() { readBack(10, QStringLiteral("/Data.bin")); }

void ConfigPageWidget::doOcc(int n)
{
    runSequence(
        [n](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return runOccCorrection(ctx, n);
        },
        [n](bool ok) {
            if (ok)
                info(QStringLiteral("occ%1完成").arg(n));
        },
        true);
}

void ConfigPageWidget::On_BtnDoOcc1() { doOcc(1); }
void ConfigPageWidget::On_BtnDoOcc2() { doOcc(2); }
void ConfigPageWidget::On_BtnDoOcc3() { doOcc(3); }
void ConfigPageWidget::On_BtnDoOcc4() { doOcc(4); }
