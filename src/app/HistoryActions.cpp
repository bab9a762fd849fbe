#include "HistoryActions.h"

#include "CustomMessageBox.h"
#include "HistoryDbDialog.h"
#include "HistoryRecorder.h"

#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace {

void configureFromSettings()
{
    HistoryRecorder::instance()->configure(HistoryConfig::fromSettings());
}

// Shows the recorder's state; the message box comes once per failure, not per event.
class HistoryStrip : public QObject {
public:
    explicit HistoryStrip(QLabel* label)
        : QObject(label)
        , m_label(label)
    {
        m_timer.setSingleShot(true);
        m_timer.setInterval(200); // a burst of events repaints once
        connect(&m_timer, &QTimer::timeout, this, &HistoryStrip::update);
        connect(HistoryRecorder::instance(), &HistoryRecorder::signalStateChanged, this,
                [this] {
                    if (!m_timer.isActive())
                        m_timer.start();
                },
                Qt::QueuedConnection);
        update();
    }

    void update()
    {
        const HistoryRecorder::State s = HistoryRecorder::instance()->state();
        if (s.localFailed) {
            m_label->setText(QStringLiteral("记录未保存"));
            m_label->setStyleSheet(QStringLiteral("color: #d01010; font-weight: bold;"));
            m_label->setToolTip(s.localError);
            m_label->show();
            if (!m_told) {
                m_told = true;
                CustomMessageBox::MsgBox(nullptr, QStringLiteral("错误"),
                                         QStringLiteral("历史记录无法写入本机数据库文件，记录暂存在内存中：\n%1")
                                             .arg(s.localError),
                                         0);
            }
            return;
        }
        m_told = false;
        m_label->setStyleSheet(QString());
        if (s.serverConfigured && s.pending > 0) {
            m_label->setText(QStringLiteral("记录: %1 条待上传").arg(s.pending));
            m_label->setToolTip(s.serverError.isEmpty() ? QStringLiteral("正在上传到数据库服务器")
                                                        : QStringLiteral("数据库服务器: ") + s.serverError);
            m_label->show();
        } else {
            m_label->clear();
            m_label->hide();
        }
    }

private:
    QLabel* m_label;
    QTimer m_timer;
    bool m_told = false;
};

} // namespace

void addHistoryActions(QMenu* settingsMenu, QBoxLayout* strip)
{
    configureFromSettings();
    auto* label = new QLabel;
    label->setObjectName("HistoryLabel");
    strip->addSpacing(16);
    strip->addWidget(label);
    new HistoryStrip(label);

    QAction* act = settingsMenu->addAction(QStringLiteral("数据库…"));
    act->setObjectName("m_pActDatabase");
    QObject::connect(act, &QAction::triggered, act, [] {
        HistoryDbDialog dlg;
        if (dlg.RunModal() != QDialog::Accepted)
            return;
        SettingsStore::writeHistorySettings(dlg.Settings());
        configureFromSettings();
    });
}
