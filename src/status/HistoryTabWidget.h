#pragma once

#include "HistoryEvent.h"

#include <QList>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

// "历史记录" on the status page: the connected core's events (every core's when none
// is identified), newest first, with a kind filter and "导出CSV". The database is read
// on a pool thread; the table fills when the answer is in.
class HistoryTabWidget : public QWidget {
    Q_OBJECT
public:
    explicit HistoryTabWidget(QWidget* parent = nullptr);

    // Rows shown now (tests).
    const QList<HistoryEvent>& shownEvents() const { return m_events; }
    bool isLoading() const { return m_loading; }

public slots:
    void onRefresh();
    void onBtnExportCsv();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showEvents(const QList<HistoryEvent>& events, const QString& note);

    QLabel* m_pLabCore = nullptr;
    QComboBox* m_pCbxKind = nullptr;
    QPushButton* m_pBtnRefresh = nullptr;
    QPushButton* m_pBtnExport = nullptr;
    QTableWidget* m_pTabEvents = nullptr;
    QLabel* m_pLabNote = nullptr;
    QTimer* m_pTimerRefresh = nullptr;
    QList<HistoryEvent> m_events;
    bool m_loading = false;
    bool m_again = false;
};
