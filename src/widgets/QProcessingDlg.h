#pragma once

#include <QDialog>

class QLabel;
class QMovie;

// Small modeless "working" window shown while a worker talks to the core: the
// animated processing image and one line of text. It cannot be dismissed by the
// operator; the page closes it when the result arrives.
class QProcessingDlg : public QDialog {
    Q_OBJECT
public:
    explicit QProcessingDlg(QWidget* parent = nullptr);
    ~QProcessingDlg() override;

    // Back to the first picture and the default text.
    void Reset();
    void SetText(const QString& strText);
    QString Text() const;
    // Shows the window without blocking and runs the animation.
    void Start();
    // Stops the animation and hides the window.
    void Stop();
    bool IsAnimating() const;

protected:
    void reject() override;

private:
    QLabel* m_pLabMovie = nullptr;
    QLabel* m_pLabText = nullptr;
    QMovie* m_pMovie = nullptr;
};
