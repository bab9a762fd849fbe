#include "NetLoginError.h"

#include "CNetConnect.h"
#include "devnet.h"

QString netLoginFailureReason(uint32_t nError, const QString& strIp, int nPort)
{
    const QString where = QStringLiteral("%1:%2").arg(strIp).arg(nPort);
    switch (nError) {
    case NET_DEV_ERR_PASSWORD:
        return QStringLiteral("原因：用户名或密码错误,相机拒绝登录");
    case NET_DEV_ERR_CONNECT:
        return QStringLiteral("原因：%1 没有设备在监听(地址或端口错误,或相机未启动)").arg(where);
    case NET_DEV_ERR_TIMEOUT:
        return QStringLiteral("原因：%1 在连接时间(%2 秒)内无应答")
            .arg(where)
            .arg(CNetConnect::kConnectWaitMs / 1000.0, 0, 'g', 3);
    case NET_DEV_ERR_PARAMETER:
        return QStringLiteral("原因：IP地址格式错误(%1)").arg(strIp);
    case NET_DEV_ERR_PROTOCOL:
        return QStringLiteral("原因：%1 的应答不是相机的协议").arg(where);
    case NET_DEV_ERR_REFUSED:
    case NET_DEV_ERR_RESOURCE:
        return QStringLiteral("原因：相机拒绝了连接(忙或连接数已满)");
    default:
        return QStringLiteral("原因：网络错误(错误码 %1)").arg(nError);
    }
}

QString netLoginFailureText(uint32_t nError, const QString& strIp, int nPort)
{
    return QStringLiteral("设备连接失败!\n") + netLoginFailureReason(nError, strIp, nPort);
}
