#include "NoShutterGroup.h"

#include "CFindFrame.h"
#include "CPageTransferContext.h"
#include "CustomMessageBox.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "FileChooser.h"
#include "IFrameSource.h"
#include "NoShutterSequences.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <memory>

namespace {

// "一" .. "二十"
QString chineseNumber(int n)
{
    static const QString digits = QStringLiteral("零一二三四五六七八九");
    if (n < 10)
        return digits.mid(n, 1);
    if (n == 10)
        return QStringLiteral("十");
    if (n < 20)
        return QStringLiteral("十") + digits.mid(n - 10, 1);
    return digits.mid(n / 10, 1) + QStringLiteral("十") + (n % 10 ? digits.mid(n % 10, 1) : QString());
}

QStringList baseItems()
{
    QStringList items;
    for (int b = 1; b <= kBaseCount; ++b)
        items << QStringLiteral("本底") + chineseNumber(b);
    return items;
}

QStringList nucItems()
{
    return {QStringLiteral("地址一"), QStringLiteral("地址二"), QStringLiteral("地址三"), QStringLiteral("地址四")};
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumWidth(80);
    return button;
}

void tell(const QString& title, const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, title, text, 0);
}

} // namespace

NoShutterGroup::NoShutterGroup(DetectPageWidget* pPage)
    : QGroupBox(QStringLiteral("本底写入"), pPage)
    , m_pPage(pPage)
{
    setObjectName("m_pGBoxNoShutter");
    buildUi();
    connect(m_pBtnGetBase, &QPushButton::clicked, this, &NoShutterGroup::OnBtnGetBase);
    connect(m_pBtnGetNVFFC, &QPushButton::clicked, this, &NoShutterGroup::OnBtnGetNVFFC);
    connect(m_pCbxFileType, qOverload<int>(&QComboBox::currentIndexChanged), this, &NoShutterGroup::OnSetFileType);
    connect(m_pBtnScanFile, &QPushButton::clicked, this, &NoShutterGroup::OnBtnScanFile);
    connect(m_pBtnSendFile, &QPushButton::clicked, this, &NoShutterGroup::OnBtnSendFile);
    connect(DeviceRunner::instance(), &DeviceRunner::signalStatus, this, [this](const QString& text) {
        if (m_bRunning)
            m_pLabStatus->setText(text);
    });
}

void NoShutterGroup::buildUi()
{
    m_pBtnGetBase = makeButton(this, "m_pBtnGetBase", QStringLiteral("获取本底"));
    m_pCmbFlashAdd = new QComboBox(this);
    m_pCmbFlashAdd->setObjectName("m_pCmbFlashAdd");
    m_pCmbFlashAdd->addItems(baseItems());
    m_pLabBaseGetInfo = new QLabel(this);
    m_pLabBaseGetInfo->setObjectName("m_pLabBaseGetInfo");
    m_pBtnGetNVFFC = makeButton(this, "m_pBtnGetNVFFC", QStringLiteral("NVFFC"));

    m_pCbxFileType = new QComboBox(this);
    m_pCbxFileType->setObjectName("m_pCbxFileType");
    m_pCbxFileType->addItems(
        {QStringLiteral("NUC文件"), QStringLiteral("坏点表"), QStringLiteral("无快门本底"), QStringLiteral("其它")});
    // Until the kind is first changed the list also holds "自定义" (the hex field).
    m_pCbxNucAddress = new QComboBox(this);
    m_pCbxNucAddress->setObjectName("m_pCbxNucAddress");
    m_pCbxNucAddress->addItems(nucItems() << QStringLiteral("自定义"));
    m_pEdtOtherAddr = new QLineEdit(this);
    m_pEdtOtherAddr->setObjectName("m_pEdtOtherAddr");
    m_pEdtOtherAddr->setPlaceholderText(QStringLiteral("十六进制地址"));
    m_pEdtOtherAddr->setMaximumWidth(120);
    m_pEdtNUCLocalFilePath = new QLineEdit(this);
    m_pEdtNUCLocalFilePath->setObjectName("m_pEdtNUCLocalFilePath");
    m_pBtnScanFile = makeButton(this, "m_pBtnScanFile", QStringLiteral("浏览"));
    m_pBtnSendFile = makeButton(this, "m_pBtnSendFile", QStringLiteral("发送"));
    m_pPgbSend = new QProgressBar(this);
    m_pPgbSend->setObjectName("m_pPgbSend");
    m_pPgbSend->setRange(0, 100);
    m_pPgbSend->setValue(0);
    m_pLabStatus = new QLabel(this);
    m_pLabStatus->setObjectName("m_pLabNoShutterStatus");

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    auto* base = new QHBoxLayout;
    base->addWidget(m_pBtnGetBase);
    base->addWidget(m_pCmbFlashAdd);
    base->addWidget(m_pLabBaseGetInfo, 1);
    base->addWidget(m_pBtnGetNVFFC);
    grid->addLayout(base, 0, 0, 1, 4);
    auto* kind = new QHBoxLayout;
    kind->addWidget(new QLabel(QStringLiteral("文件类型："), this));
    kind->addWidget(m_pCbxFileType);
    kind->addWidget(m_pCbxNucAddress);
    kind->addWidget(m_pEdtOtherAddr);
    kind->addStretch(1);
    grid->addLayout(kind, 1, 0, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("本地文件："), this), 2, 0);
    grid->addWidget(m_pEdtNUCLocalFilePath, 2, 1);
    grid->addWidget(m_pBtnScanFile, 2, 2);
    grid->addWidget(m_pBtnSendFile, 2, 3);
    // The status beside the bar has a width of its own: the buttons above keep theirs.
    auto* progress = new QHBoxLayout;
    progress->addWidget(m_pPgbSend, 1);
    m_pLabStatus->setFixedWidth(190);
    progress->addWidget(m_pLabStatus);
    grid->addLayout(progress, 3, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    m_pEdtOtherAddr->hide();
}

QString NoShutterGroup::statusText() const
{
    return m_pLabStatus->text();
}

bool NoShutterGroup::requireDevice()
{
    if (m_pPage->deviceConnected())
        return true;
    tell(QStringLiteral("警告"), QStringLiteral("未连接任何设备!"));
    return false;
}

void NoShutterGroup::run(std::function<bool(DeviceTaskContext&)> task, std::function<void(bool)> done)
{
    QPointer<NoShutterGroup> self(this);
    m_pPgbSend->setValue(0);
    m_pLabStatus->clear();
    m_bRunning = true;
    auto finish = [self, done = std::move(done)](bool ok) {
        if (!self)
            return;
        self->m_bRunning = false;
        self->m_pLabStatus->clear();
        if (done)
            done(ok);
    };
    if (!DeviceRunner::instance()->run(m_pPage, m_pPgbSend, std::move(task), finish)) {
        m_bRunning = false;
        tell(QStringLiteral("提示"), QStringLiteral("设备正忙,请等待当前操作完成后再试!"));
    }
}

void NoShutterGroup::OnBtnGetBase()
{
    CFindFrame* frames = m_pPage->frameSource() ? m_pPage->frameSource()->FrameBuffer() : nullptr;
    if (!frames || !requireDevice())
        return;
    const int nIndex = m_pCmbFlashAdd->currentIndex();
    const int nBase = nIndex + 1;
    const CalibrationTree tree = m_pPage->tree();
    BaseJob job;
    job.frames = frames;
    job.index = nIndex;
    job.framesDir = tree.noShutterBaseDir(nBase);
    job.basePath = tree.noShutterDir() + QStringLiteral("/base%1.bin").arg(nBase);
    auto size = std::make_shared<CaptureSize>();
    m_pLabBaseGetInfo->clear();
    run(
        [job, size](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return runBaseSequence(ctx, job, size.get());
        },
        [this, size, nBase](bool ok) {
            m_pPage->showCaptureSize(size->width, size->height);
            if (ok)
                m_pLabBaseGetInfo->setText(QStringLiteral("本底%1写入完成").arg(nBase));
        });
}

void NoShutterGroup::OnBtnGetNVFFC()
{
    const int nTec = m_pPage->tecIndex();
    if (m_pPage->solution() == DetectPageWidget::SolutionCore) {
        if (!requireDevice())
            return;
        run(
            [nTec](DeviceTaskContext& task) {
                CPageTransferContext ctx(task);
                return runCoreNvffc(ctx, nTec);
            },
            {});
        return;
    }
    CFindFrame* frames = m_pPage->frameSource() ? m_pPage->frameSource()->FrameBuffer() : nullptr;
    if (!frames || !requireDevice())
        return;
    NvffcJob job;
    job.frames = frames;
    job.tecIndex = nTec;
    job.dir = m_pPage->tree().nvffcDir();
    auto size = std::make_shared<CaptureSize>();
    run(
        [job, size](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return runNvffcSequence(ctx, job, size.get()) == NvffcOutcome::Written;
        },
        [this, size](bool) { m_pPage->showCaptureSize(size->width, size->height); });
}

void NoShutterGroup::OnSetFileType(int nKind)
{
    m_pCbxNucAddress->clear();
    switch (nKind) {
    case SendNucFile:
        m_pCbxNucAddress->addItems(nucItems());
        break;
    case SendBaseFile:
        m_pCbxNucAddress->addItems(baseItems());
        break;
    default:
        break;
    }
    m_pCbxNucAddress->setVisible(nKind == SendNucFile || nKind == SendBaseFile);
    m_pEdtOtherAddr->setVisible(nKind == SendOtherFile);
}

void NoShutterGroup::OnBtnScanFile()
{
    const QString path = FileChooser::getOpenFileName(nullptr, QStringLiteral("打开文件"), QString(),
                                                      QStringLiteral("NUC文件(*.nuc);;全部文件(*.*)"));
    if (path.isEmpty())
        return;
    m_pEdtNUCLocalFilePath->setText(path);
    m_pEdtNUCLocalFilePath->setToolTip(path);
}

void NoShutterGroup::OnBtnSendFile()
{
    const QString path = m_pEdtNUCLocalFilePath->text().trimmed();
    if (path.isEmpty()) {
        tell(QStringLiteral("警告"), QStringLiteral("请先选择要发送的文件!"));
        return;
    }
    uint32_t address = 0;
    QString why;
    // An empty or wrong address stops here: address 0 is the FPGA image "Logic 0".
    if (!sendFileAddress(m_pCbxFileType->currentIndex(), m_pCbxNucAddress->currentIndex(), m_pEdtOtherAddr->text(),
                         &address, &why)) {
        tell(QStringLiteral("警告"), why);
        return;
    }
    if (!requireDevice())
        return;
    run(
        [address, path](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return runSendFile(ctx, address, path);
        },
        {});
}
