#include "SensorExcelSettingDlg.h"

#include "CameraInfoDataManager.h"
#include "ConfigPageWidget.h"
#include "CustomMessageBox.h"
#include "FileChooser.h"
#include "SensorConfigWidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

using sensorcfg::Item;
using sensorcfg::Vendor;

SensorExcelSettingDlg::SensorExcelSettingDlg(QWidget* parent)
    : CustomModalDialog(parent)
{
    setObjectName("SensorExcelSettingDlg");
    m_strLastDir = QDir::homePath();
}

SensorExcelSettingDlg::~SensorExcelSettingDlg()
{
    // The tasks report through this object: they must be over before it goes.
    cancelWork();
    m_searchWatcher.waitForFinished();
    m_parseWatcher.waitForFinished();
}

bool SensorExcelSettingDlg::SetupUI()
{
    if (!CustomModalDialog::SetupUI())
        return false;
    QWidget* area = ContentWidget();
    m_pLabExcelPath = new QLabel(area);
    m_pEdtExcelPath = new QLineEdit(area);
    m_pEdtExcelPath->setObjectName("lineEditExcelPath");
    m_pEdtExcelPath->setReadOnly(true);
    m_pBtnBrowser = new QPushButton(area);
    m_pBtnBrowser->setObjectName("btnBrowser");
    m_pTbrLog = new QTextBrowser(area);
    m_pTbrLog->setObjectName("textBrowser");
    m_pPrgBusy = new QProgressBar(area);
    m_pPrgBusy->setObjectName("m_pPrgBusy");
    m_pPrgBusy->setTextVisible(false);
    m_pPrgBusy->setMaximumHeight(8);

    auto* row = new QHBoxLayout;
    row->addWidget(m_pLabExcelPath);
    row->addWidget(m_pEdtExcelPath, 1);
    row->addWidget(m_pBtnBrowser);
    auto* col = new QVBoxLayout(area);
    col->setContentsMargins(12, 10, 12, 4);
    col->addLayout(row);
    col->addWidget(m_pTbrLog, 1);
    col->addWidget(m_pPrgBusy);
    resize(560, 380);
    return true;
}

bool SensorExcelSettingDlg::ReTranslateUI()
{
    if (!CustomModalDialog::ReTranslateUI())
        return false;
    SetTitleText(QStringLiteral("机芯规格书配置"));
    setWindowTitle(QStringLiteral("机芯规格书配置"));
    m_pLabExcelPath->setText(QStringLiteral("机芯规格书目录："));
    m_pBtnBrowser->setText(QStringLiteral("浏览"));
    OkButton()->setText(QStringLiteral("确定"));
    return true;
}

bool SensorExcelSettingDlg::ConnectSignals()
{
    if (!CustomModalDialog::ConnectSignals())
        return false;
    connect(m_pBtnBrowser, &QPushButton::clicked, this, &SensorExcelSettingDlg::onBrowseFile);
    connect(&m_searchWatcher, &QFutureWatcherBase::finished, this, &SensorExcelSettingDlg::onSearchFinished);
    connect(&m_parseWatcher, &QFutureWatcherBase::finished, this, &SensorExcelSettingDlg::onExcelParseFinished);
    // Emitted on the pool threads, shown on the GUI thread.
    connect(this, &SensorExcelSettingDlg::signalShowBrowserText, this, &SensorExcelSettingDlg::onAppendText,
            Qt::QueuedConnection);
    return true;
}

bool SensorExcelSettingDlg::InitBkgs()
{
    if (!CustomModalDialog::InitBkgs())
        return false;
    SetCancelVisible(false);
    SetTitleButtons(false, false, true);
    m_pEdtExcelPath->setText(QDir::toNativeSeparators(m_strLastDir));
    m_pEdtExcelPath->setToolTip(m_pEdtExcelPath->text());
    setBusy(false);
    return true;
}

void SensorExcelSettingDlg::setBusy(bool bBusy)
{
    m_bBusy = bBusy;
    m_pBtnBrowser->setEnabled(!bBusy);
    // A moving bar while the walk or the parse runs.
    m_pPrgBusy->setRange(0, bBusy ? 0 : 1);
    m_pPrgBusy->setValue(0);
    m_pPrgBusy->setVisible(bBusy);
}

void SensorExcelSettingDlg::setLog(const QString& strText)
{
    m_strLog = strText;
    m_pTbrLog->setPlainText(m_strLog);
}

void SensorExcelSettingDlg::onAppendText(const QString& strText)
{
    if (!m_bBusy || (m_pCancel && m_pCancel->load()))
        return; // a cancelled task's last lines
    m_strLog += strText;
    m_pTbrLog->setPlainText(m_strLog);
    m_pTbrLog->moveCursor(QTextCursor::End);
}

void SensorExcelSettingDlg::resetResults()
{
    cancelWork();
    m_bResults = false;
    m_strExcelPath.clear();
    m_strOutputPath.clear();
    m_result = specsheet::Result();
}

void SensorExcelSettingDlg::cancelWork()
{
    if (m_pCancel)
        m_pCancel->store(true);
}

void SensorExcelSettingDlg::done(int r)
{
    // Closing the dialog ends a search or parse still running; it reports nothing.
    cancelWork();
    CustomModalDialog::done(r);
}

void SensorExcelSettingDlg::onBrowseFile()
{
    if (m_bBusy)
        return;
    // Every workbook name would contain an empty ID.
    m_strSensorId = CameraInfoDataManager::instance()->sensorId();
    if (m_strSensorId.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未识别到机芯的Sensor编号，无法查找规格书"), 0);
        return;
    }
    const QString dir = FileChooser::getExistingDirectory(this, QStringLiteral("Open Directory"), m_strLastDir);
    if (dir.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("文件路径为空"), 0);
        return;
    }
    m_strLastDir = dir;
    m_pEdtExcelPath->setText(QDir::toNativeSeparators(dir));
    m_pEdtExcelPath->setToolTip(m_pEdtExcelPath->text());
    m_bResults = false;
    m_strExcelPath.clear();
    m_strOutputPath.clear();

    m_pCancel = std::make_shared<std::atomic<bool>>(false);
    setBusy(true);
    setLog(QStringLiteral("搜索规格书...\n"));
    const auto cancel = m_pCancel;
    const QString sensorId = m_strSensorId;
    m_searchWatcher.setFuture(QtConcurrent::run([this, dir, sensorId, cancel] {
        // Names reach the log in batches, so a large tree does not flood the window.
        QString batch;
        QElapsedTimer sinceFlush;
        sinceFlush.start();
        auto flush = [&] {
            if (!batch.isEmpty())
                emit signalShowBrowserText(batch);
            batch.clear();
            sinceFlush.restart();
        };
        specsheet::SearchResult res = specsheet::findSheet(
            dir, sensorId,
            [&](const QString& name) {
                batch += name + QLatin1Char('\n');
                if (sinceFlush.elapsed() >= 100)
                    flush();
            },
            cancel.get());
        flush();
        return res;
    }));
}

void SensorExcelSettingDlg::onSearchFinished()
{
    const specsheet::SearchResult res = m_searchWatcher.result();
    if (res.cancelled || m_pCancel->load()) {
        setBusy(false);
        return;
    }
    if (res.match.isEmpty()) {
        m_strLog += QStringLiteral("%1[%2]%3\n").arg(QStringLiteral("没有发现"), m_strSensorId, QStringLiteral("对应的规格书"));
        m_pTbrLog->setPlainText(m_strLog);
        setBusy(false);
        return;
    }
    m_strExcelPath = res.match;
    m_strOutputPath.clear();
    const QString out = specsheet::tablePath(m_strSensorId);
    CameraInfoDataManager* info = CameraInfoDataManager::instance();
    const int typeCode = info->sensorTypeCode();
    QSize frame = info->frameSize();
    QString head = QStringLiteral("解析中...\n");
    if (res.matches > 1)
        head += QStringLiteral("找到%1个[%2]的规格书，使用最后找到的一个\n").arg(res.matches).arg(m_strSensorId);
    head += QStringLiteral("规格书:%1\n").arg(QDir::toNativeSeparators(res.match));
    if (frame.isEmpty()) {
        frame = QSize(specsheet::kDefaultWidth, specsheet::kDefaultHeight);
        head += QStringLiteral("画面尺寸未知，按%1 x %2计算坏点邻域\n").arg(frame.width()).arg(frame.height());
    }
    setLog(head);
    const auto cancel = m_pCancel;
    const QString path = res.match;
    m_parseWatcher.setFuture(QtConcurrent::run([this, path, typeCode, frame, out, cancel] {
        specsheet::Result r;
        specsheet::parseFile(
            path, typeCode, frame.width(), frame.height(), out, &r,
            [this](const QString& s) { emit signalShowBrowserText(s); }, cancel.get());
        return r;
    }));
}

void SensorExcelSettingDlg::onExcelParseFinished()
{
    specsheet::Result r = m_parseWatcher.result();
    const bool ok = !r.tablePath.isEmpty();
    const bool cancelled = m_pCancel->load();
    // The log lines the task queued come before the closing line.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    setBusy(false);
    if (cancelled)
        return;
    m_result = std::move(r);
    m_bResults = ok;
    m_strOutputPath = m_result.tablePath;
    if (ok)
        m_strLog += QStringLiteral("[%1]%2...\n").arg(m_strSensorId, QStringLiteral("规格书解析完成"));
    else
        m_strLog += QStringLiteral("[%1]%2\n").arg(m_strSensorId, QStringLiteral("规格书解析失败，未生成坏点表，参数未导入"));
    m_pTbrLog->setPlainText(m_strLog);
    m_pTbrLog->moveCursor(QTextCursor::End);
}

bool SensorExcelSettingDlg::handOver(ConfigPageWidget* page, int sensorTypeCode, int coreClass) const
{
    if (!m_bResults || !page)
        return false;
    SensorConfigWidget* panel = page->sensorConfigWidget();
    const specsheet::Values& v = m_result.values;
    bool handed = false;
    if (sensorTypeCode == 4) {
        if (v.hasDali) {
            panel->setField(Vendor::DALI, Item::Response, QString::number(v.response));
            panel->setField(Vendor::DALI, Item::Vbs, QString::number(v.bias));
            panel->setField(Vendor::DALI, Item::Tint, QString::number(v.tint));
        }
        page->setInitBPTablePath(m_strOutputPath);
        handed = true;
    }
    if (coreClass >= 1 && coreClass <= 4) {
        if (v.hasGfid)
            panel->setField(Vendor::PICO, Item::GFidGsk, v.gfidGsk);
        page->setInitBPTablePath(m_strOutputPath);
        handed = true;
    }
    return handed;
}
