#include "QualityLimitsDlg.h"

#include "CustomMessageBox.h"
#include "QualityGroup.h"
#include "QualityRun.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <cmath>

namespace {

QString number(double v)
{
    return QString::number(v, 'g', 8);
}

// A finite number in [lo, hi]; an integer when `whole`. Tells the operator otherwise.
bool readField(QLineEdit* edit, const QString& caption, double lo, double hi, bool whole, double* out)
{
    bool ok = false;
    const double v = edit->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < lo || v > hi || (whole && v != std::floor(v))) {
        const QString range = whole ? QStringLiteral("%1~%2之间的整数").arg(lo).arg(hi)
                                    : QStringLiteral("%1~%2之间的数字").arg(lo).arg(hi);
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("%1必须是%2!").arg(caption, range), 0);
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    *out = v;
    return true;
}

} // namespace

QualityLimitsDlg::QualityLimitsDlg(QWidget* parent)
    : CustomModalDialog(parent)
{
    setObjectName("QualityLimitsDlg");
}

QualityLimitsDlg::~QualityLimitsDlg() = default;

bool QualityLimitsDlg::SetupUI()
{
    if (!CustomModalDialog::SetupUI())
        return false;
    QWidget* area = ContentWidget();
    auto edit = [area](const char* name) {
        auto* e = new QLineEdit(area);
        e->setObjectName(name);
        e->setMaximumWidth(90);
        return e;
    };
    m_pEdtNonuniformity = edit("m_pEdtNonuniformity");
    m_pEdtCorrectability = edit("m_pEdtCorrectability");
    m_pEdtOperability = edit("m_pEdtOperability");
    m_pEdtCluster = edit("m_pEdtCluster");
    m_pEdtOutliers = edit("m_pEdtOutliers");
    m_pEdtNoise = edit("m_pEdtNoise");
    m_pEdtFrames = edit("m_pEdtFrames");
    auto row = [area](QLineEdit* e, const QString& sign, const QString& unit) {
        auto* h = new QHBoxLayout;
        h->addWidget(new QLabel(sign, area));
        h->addWidget(e);
        h->addWidget(new QLabel(unit, area));
        h->addStretch(1);
        return h;
    };
    auto* form = new QFormLayout(area);
    form->setContentsMargins(16, 12, 16, 4);
    form->setVerticalSpacing(6);
    form->addRow(qualityCaption("nonuniformity_percent") + QStringLiteral("："),
                 row(m_pEdtNonuniformity, QStringLiteral("≤"), QStringLiteral("%")));
    form->addRow(qualityCaption("correctability") + QStringLiteral("："),
                 row(m_pEdtCorrectability, QStringLiteral("≤"), QString()));
    form->addRow(qualityCaption("operability_percent") + QStringLiteral("："),
                 row(m_pEdtOperability, QStringLiteral("≥"), QStringLiteral("%")));
    form->addRow(qualityCaption("largest_cluster") + QStringLiteral("："),
                 row(m_pEdtCluster, QStringLiteral("≤"), QStringLiteral("像元")));
    form->addRow(qualityCaption("unflagged_outliers") + QStringLiteral("："),
                 row(m_pEdtOutliers, QStringLiteral("≤"), QStringLiteral("个")));
    form->addRow(qualityCaption("temporal_noise") + QStringLiteral("："),
                 row(m_pEdtNoise, QStringLiteral("≤"), QStringLiteral("计数")));
    form->addRow(QStringLiteral("检验帧数："), row(m_pEdtFrames, QString(), QStringLiteral("帧 (2~128)")));
    auto* note = new QLabel(QStringLiteral("每次检验都记录所用标准，修改不影响已有结论。"), area);
    note->setWordWrap(true);
    form->addRow(note);
    auto* defaults = new QPushButton(QStringLiteral("恢复默认"), this);
    defaults->setObjectName("m_pBtnQualityDefaults");
    ButtonRow()->insertWidget(0, defaults);
    connect(defaults, &QPushButton::clicked, this, &QualityLimitsDlg::OnBtnDefaults);
    return true;
}

bool QualityLimitsDlg::ReTranslateUI()
{
    if (!CustomModalDialog::ReTranslateUI())
        return false;
    SetTitleText(QStringLiteral("检验标准"));
    return true;
}

bool QualityLimitsDlg::InitBkgs()
{
    if (!CustomModalDialog::InitBkgs())
        return false;
    readQualityLimits(&m_limits, &m_nFrames);
    showLimits(m_limits, m_nFrames);
    resize(360, 340);
    return true;
}

void QualityLimitsDlg::showLimits(const QualityLimits& l, int frames)
{
    m_pEdtNonuniformity->setText(number(l.maxNonuniformityPercent));
    m_pEdtCorrectability->setText(number(l.maxCorrectability));
    m_pEdtOperability->setText(number(l.minOperabilityPercent));
    m_pEdtCluster->setText(QString::number(l.maxLargestCluster));
    m_pEdtOutliers->setText(QString::number(l.maxUnflaggedOutliers));
    m_pEdtNoise->setText(number(l.maxTemporalNoise));
    m_pEdtFrames->setText(QString::number(frames));
}

void QualityLimitsDlg::OnBtnDefaults()
{
    showLimits(QualityLimits(), kDefaultQualityFrames);
}

void QualityLimitsDlg::On_OK()
{
    QualityLimits l;
    double cluster = 0, outliers = 0, frames = 0;
    if (!readField(m_pEdtNonuniformity, qualityCaption("nonuniformity_percent"), 0, 100, false,
                   &l.maxNonuniformityPercent)
        || !readField(m_pEdtCorrectability, qualityCaption("correctability"), 0, 1000, false, &l.maxCorrectability)
        || !readField(m_pEdtOperability, qualityCaption("operability_percent"), 0, 100, false,
                      &l.minOperabilityPercent)
        || !readField(m_pEdtCluster, qualityCaption("largest_cluster"), 0, 1000000, true, &cluster)
        || !readField(m_pEdtOutliers, qualityCaption("unflagged_outliers"), 0, 1000000, true, &outliers)
        || !readField(m_pEdtNoise, qualityCaption("temporal_noise"), 0, 16383, false, &l.maxTemporalNoise)
        || !readField(m_pEdtFrames, QStringLiteral("检验帧数"), 2, 128, true, &frames))
        return;
    l.maxLargestCluster = int(cluster);
    l.maxUnflaggedOutliers = int(outliers);
    m_limits = l;
    m_nFrames = int(frames);
    CustomModalDialog::On_OK();
}

void addQualityLimitsAction(QMenu* settingsMenu, QWidget* window)
{
    QAction* act = settingsMenu->addAction(QStringLiteral("检验标准…"));
    act->setObjectName("m_pActQualityLimits");
    QObject::connect(act, &QAction::triggered, act, [window] {
        QualityLimitsDlg dlg;
        if (dlg.RunModal() != QDialog::Accepted)
            return;
        if (!writeQualityLimits(dlg.Limits(), dlg.Frames())) {
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("错误"), QStringLiteral("检验标准保存失败!"), 0);
            return;
        }
        if (window)
            for (QualityGroup* group : window->findChildren<QualityGroup*>())
                group->reloadSettings();
    });
}
