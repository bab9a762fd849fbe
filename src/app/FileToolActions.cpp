#include "FileToolActions.h"

#include "CustomMessageBox.h"
#include "DeviceRunner.h"
#include "FileChooser.h"
#include "FileTools.h"
#include "PathText.h"

#include <memory>

namespace FileToolActions {

namespace {

using Operation = FileTools::Result (*)(const QString&, const FileTools::Progress&);

bool runTool(QWidget* page, QProgressBar* bar, const QString& filter, Operation op, const QString& doneText)
{
    const QString path = FileChooser::getOpenFileName(nullptr, QStringLiteral("打开文件"), QString(), filter);
    if (path.isEmpty())
        return false;

    DeviceRunner* runner = DeviceRunner::instance();
    if (runner->busy()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("有操作正在进行,请等待其完成后再试"), 0);
        return false;
    }

    auto result = std::make_shared<FileTools::Result>();
    const bool started = runner->run(
        page, bar,
        [path, op, result](DeviceTaskContext& ctx) {
            int lastPercent = -1;
            *result = op(path, [&ctx, &lastPercent](qint64 done, qint64 total) {
                const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
                if (percent != lastPercent) {
                    lastPercent = percent;
                    ctx.setProgress(percent);
                }
                return !ctx.cancelled();
            });
            return result->ok;
        },
        [result, doneText](bool ok) {
            if (ok)
                CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), withFileLine(doneText, result->outputPath), 0);
            else
                CustomMessageBox::MsgBox(nullptr, QStringLiteral("错误"), result->error, 0);
        });
    if (!started)
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QStringLiteral("有操作正在进行,请等待其完成后再试"), 0);
    return started;
}

} // namespace

bool runByteInvert(QWidget* page, QProgressBar* bar)
{
    return runTool(page, bar, QStringLiteral("dat文件(*.dat);;全部文件(*.*)"), &FileTools::invertFile,
                   QStringLiteral("文件转换完成"));
}

bool runChecksum(QWidget* page, QProgressBar* bar)
{
    return runTool(page, bar, QStringLiteral("elf文件(*.elf);;全部文件(*.*)"), &FileTools::checksumFile,
                   QStringLiteral("文件校验完成"));
}

} // namespace FileToolActions
