#pragma once

#include "TransferContext.h"

#include <QString>

#include <ostream>

namespace irbench_cli {

// Progress lines and the sequences' messages go to stderr; stdout keeps the result.
class CliTransferContext : public TransferContext {
public:
    CliTransferContext(std::ostream& err, const char* label)
        : m_err(err)
        , m_label(label)
    {
    }
    void setProgress(int percent) override
    {
        if (percent == m_last)
            return;
        m_last = percent;
        m_err << m_label << " " << percent << "%";
        if (!m_left.isEmpty())
            m_err << " " << m_left.toStdString();
        m_err << "\n";
        m_err.flush();
    }
    // The remaining time, printed with the next progress line.
    void setStatus(const QString& text) override { m_left = text; }
    void message(const QString& title, const QString& text) override
    {
        m_err << title.toStdString() << ": " << text.toStdString() << "\n";
    }

private:
    std::ostream& m_err;
    const char* m_label;
    int m_last = -1;
    QString m_left;
};

} // namespace irbench_cli
