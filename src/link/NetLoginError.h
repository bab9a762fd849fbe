#pragma once

#include <QString>

#include <cstdint>

// The operator's wording of why a network login failed, from the SDK's error code.
QString netLoginFailureReason(uint32_t nError, const QString& strIp, int nPort);
// "设备连接失败!" and the reason on a second line.
QString netLoginFailureText(uint32_t nError, const QString& strIp, int nPort);
