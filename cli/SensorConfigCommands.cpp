#include "CliApp.h"
#include "CliCommand.h"

#include "CameraInfoDataManager.h"
#include "SensorConfig.h"

#include <QString>

#include <ostream>

namespace irbench_cli {

namespace {

// The writes' messages ("提示", "警告") go to stderr as "title: text".
class CliSensorContext : public TransferContext {
public:
    explicit CliSensorContext(std::ostream& err)
        : m_err(err)
    {
    }
    void message(const QString& title, const QString& text) override
    {
        m_err << title.toStdString() << ": " << text.toStdString() << "\n";
        m_err.flush();
    }

private:
    std::ostream& m_err;
};

bool needsText(sensorcfg::Item item)
{
    using sensorcfg::Item;
    return item != Item::Ntcc && item != Item::AutoCorrect && item != Item::PicoConfig;
}

// A refusal before anything is connected: the "警告" text, exit 2.
bool refuse(Context& c, const QString& text)
{
    c.err << "警告: " << text.toStdString() << "\n";
    c.refusal = ExitUsage;
    return false;
}

bool prepSensorConfig(Context& c, Action* act)
{
    using namespace sensorcfg;
    const std::vector<std::string>& a = c.opt.args;
    if (a.size() < 2)
        return usageError(c, "参数个数不对: sensor-config VENDOR ITEM [TEXT] [--area 0|1] [--sensor-type N]");
    Request r;
    if (!vendorFromName(QString::fromStdString(a[0]), &r.vendor))
        return usageError(c, "厂家只能是 gwic、iray、pico、dali 或 wy: " + a[0]);
    if (!itemFromName(QString::fromStdString(a[1]), &r.item))
        return usageError(c, "未知的配置项 " + a[1]);

    bool haveText = false;
    bool haveType = false;
    for (size_t i = 2; i < a.size(); ++i) {
        unsigned long long n = 0;
        if (a[i] == "--area" || a[i] == "--sensor-type") {
            if (i + 1 >= a.size())
                return usageError(c, a[i] + " 缺少参数");
            if (a[i] == "--area") {
                if (!number(c, ++i, 1, &n, "配置码空间"))
                    return false;
                r.area = int(n);
            } else {
                if (!number(c, ++i, 0x7FFFFFFF, &n, "传感器类型"))
                    return false;
                r.sensorTypeCode = int(n);
                haveType = true;
            }
        } else if (!haveText) {
            r.text = QString::fromStdString(a[i]);
            haveText = true;
        } else {
            return usageError(c, "多余的参数 " + a[i]);
        }
    }
    if (haveText && !needsText(r.item))
        return usageError(c, "配置项 " + a[1] + " 不需要文本");
    if (!haveText && r.item == Item::Target)
        r.text = QStringLiteral("6500"); // the page's default target value

    // Only an ASCII-or-hex sensor ID depends on the core; when its type is not given,
    // the text must pass as one of the two here and the identified core decides.
    const bool identify = r.item == Item::SensorId && r.vendor != Vendor::WY && !haveType;
    QString refusal = validate(r);
    if (!refusal.isEmpty() && identify) {
        Request ascii = r;
        ascii.sensorTypeCode = 4;
        if (validate(ascii).isEmpty())
            refusal.clear();
    }
    if (!refusal.isEmpty())
        return refuse(c, refusal);

    *act = [r, identify](Context& c) mutable {
        if (identify) {
            CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
            mgr->identifyNow();
            if (mgr->readError() != 0) {
                c.err << mgr->readErrorText().toStdString() << "\n";
                return int(ExitDevice);
            }
            r.sensorTypeCode = mgr->sensorTypeCode();
            const QString refusal = validate(r);
            if (!refusal.isEmpty()) {
                c.err << "警告: " << refusal.toStdString() << "\n";
                return int(ExitUsage);
            }
        }
        CliSensorContext ctx(c.err);
        return sensorcfg::write(ctx, r) ? int(ExitOk) : int(ExitDevice);
    };
    return true;
}

} // namespace

void addSensorConfigCommands(CommandTable& t)
{
    t["sensor-config"] = {-1, "sensor-config VENDOR ITEM [TEXT] [--area 0|1] [--sensor-type N]",
                          "探测器配置: 厂家 gwic|iray|pico|dali|wy, 项 sensor-id|data|core-type|batch|vtemp|gfid|vbs|tint|response|sitf|target|ntcc|auto-correct|pico-config|init-table",
                          true, prepSensorConfig};
}

} // namespace irbench_cli
