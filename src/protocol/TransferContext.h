#pragma once

#include <QString>

// What a blocking device sequence reports to whoever runs it: the page (through the
// device runner), the command line, or a test. Every member may be called from the
// sequence's own thread.
class TransferContext {
public:
    virtual ~TransferContext() = default;
    virtual void setProgress(int percent) { (void)percent; }
    virtual void setStatus(const QString& text) { (void)text; }
    // A message for the operator; the sequence goes on once it returns.
    virtual void message(const QString& title, const QString& text) = 0;
    virtual bool cancelled() const { return false; }
};
