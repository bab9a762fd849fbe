#include "ComConnectDlg.h"

#include "ComInfo.h"
#include "CustomMessageBox.h"

#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

ComConnectDlg::ComConnectDlg(QWidget* parent)
    : CustomModalDialog(parent)
{
    setObjectName("ComConnectDlg");
    qRegisterMetaType<ComInfo>("ComInfo");
}

ComConnectDlg::~ComConnectDlg() = default;

QStringList ComConnectDlg::BaudRates()
{
    return {"2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"};
}

int ComConnectDlg::DefaultBaudIndex()
{
    return 8;
}

QStringList ComConnectDlg::AvailablePorts(const QString& devDir)
{
    QDir dir(devDir);
    const QStringList names =
        dir.entryList({"ttyS*", "ttyUSB*", "ttyACM*"}, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    QStringList ports;
    for (const QString& name : names)
        ports << dir.absoluteFilePath(name);
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(ports.begin(), ports.end(),
              [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return ports;
}

bool ComConnectDlg::SetupUI()
{
    if (!CustomModalDialog::SetupUI())
        return false;
    m_pLabPort = new QLabel(ContentWidget());
    m_pLabBaud = new QLabel(ContentWidget());
    m_pCbxPort = new QComboBox(ContentWidget());
    m_pCbxPort->setObjectName("m_pCbxPort");
    // A pty or any other device can be typed in.
    m_pCbxPort->setEditable(true);
    m_pCbxPort->setInsertPolicy(QComboBox::NoInsert);
    m_pCbxBaud = new QComboBox(ContentWidget());
    m_pCbxBaud->setObjectName("m_pCbxBaud");

    auto* form = new QFormLayout(ContentWidget());
    form->setContentsMargins(16, 16, 16, 4);
    form->setSpacing(10);
    form->addRow(m_pLabPort, m_pCbxPort);
    form->addRow(m_pLabBaud, m_pCbxBaud);
    return true;
}

bool ComConnectDlg::ReTranslateUI()
{
    if (!CustomModalDialog::ReTranslateUI())
        return false;
    SetTitleText(QStringLiteral("串口连接"));
    m_pLabPort->setText(QStringLiteral("串口："));
    m_pLabBaud->setText(QStringLiteral("波特率："));
    m_pCbxPort->lineEdit()->setPlaceholderText(QStringLiteral("/dev/ttyUSB0"));
    return true;
}

bool ComConnectDlg::InitBkgs()
{
    if (!CustomModalDialog::InitBkgs())
        return false;
    setWindowModality(Qt::ApplicationModal);
    m_pCbxBaud->addItems(BaudRates());
    m_pCbxBaud->setCurrentIndex(DefaultBaudIndex());
    refreshPorts();
    // Wide enough for device paths such as /dev/ttyUSB10.
    resize(260, 200);
    return true;
}

void ComConnectDlg::refreshPorts()
{
    const QString current = m_pCbxPort->currentText();
    m_pCbxPort->clear();
    m_pCbxPort->addItems(AvailablePorts());
    if (!current.isEmpty()) {
        const int idx = m_pCbxPort->findText(current);
        if (idx >= 0)
            m_pCbxPort->setCurrentIndex(idx);
        else
            m_pCbxPort->setEditText(current); // a typed path stays as typed
    }
}

void ComConnectDlg::ShowRequest()
{
    const bool bFirst = !IsInitialized();
    Initialize();
    // Ports come and go (USB adapters); the list is read again on every request.
    if (!bFirst)
        refreshPorts();
    show();
    raise();
    activateWindow();
}

void ComConnectDlg::OnBtnOk()
{
    ComInfo info;
    info.strPortName = m_pCbxPort->currentText().trimmed();
    if (info.strPortName.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("请选择或输入串口!"), 0);
        return;
    }
    info.nBaudRate = m_pCbxBaud->currentText().toInt(); // not a number: 0
    emit SigLogin(QVariant::fromValue(info));
    accept();
}

void ComConnectDlg::OnBtnCancel()
{
    reject();
}

void ComConnectDlg::On_Exit()
{
    OnBtnCancel();
}

void ComConnectDlg::On_OK()
{
    OnBtnOk();
}

void ComConnectDlg::On_Cancel()
{
    OnBtnCancel();
}
