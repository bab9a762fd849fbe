#pragma once

#include <QMetaType>
#include <QString>

// A serial connect request: the port as the system names it and the baud rate.
struct ComInfo {
    QString strPortName;
    int nBaudRate = 0;
};
Q_DECLARE_METATYPE(ComInfo)
