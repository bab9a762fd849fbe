#include "PacingAction.h"

#include "DataExchange.h"
#include "SettingsStore.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

namespace {

void apply(bool reply, QLabel* label)
{
    DataExchange::setPacing(reply ? DataExchange::Pacing::Reply : DataExchange::Pacing::Fixed);
    if (label)
        label->setText(reply ? QStringLiteral("应答：快速") : QStringLiteral("应答：固定间隔"));
}

} // namespace

QAction* addPacingAction(QMenu* menu, QLabel* label)
{
    QAction* act = menu->addAction(QStringLiteral("快速应答模式"));
    act->setObjectName("m_pActPacing");
    act->setCheckable(true);
    QString stored;
    SettingsStore::readPacing(&stored);
    const bool reply = stored == QLatin1String("reply");
    act->setChecked(reply);
    apply(reply, label);
    if (label)
        label->setToolTip(QStringLiteral("快速应答：应答一到即进行下一步；固定间隔：每次读取前等待一个轮询间隔"));
    QObject::connect(act, &QAction::toggled, act, [label](bool on) {
        apply(on, label);
        SettingsStore::writePacing(DataExchange::pacingName(on ? DataExchange::Pacing::Reply : DataExchange::Pacing::Fixed));
    });
    return act;
}
