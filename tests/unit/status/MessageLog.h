#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace irtest {

// Messages the recording sink answered, as (title, text), oldest first.
QList<QPair<QString, QString>> takeMessages();

} // namespace irtest
