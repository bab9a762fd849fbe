#pragma once

#include "TransferContext.h"

// Passes everything on to the real context and keeps the last message: the failure's
// text for the history event of a sequence.
class NotingContext : public TransferContext {
public:
    explicit NotingContext(TransferContext& inner) : m_inner(inner) {}
    void setProgress(int percent) override { m_inner.setProgress(percent); }
    void setStatus(const QString& text) override { m_inner.setStatus(text); }
    void message(const QString& title, const QString& text) override
    {
        last = text;
        m_inner.message(title, text);
    }
    bool cancelled() const override { return m_inner.cancelled(); }

    QString last;

private:
    TransferContext& m_inner;
};
