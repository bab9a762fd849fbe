#pragma once

#include <QTableWidget>

// The console's custom command table: three columns (description, address, value),
// whole-row selection, no in-place editing; a right click selects the row under the
// mouse and emits SigShowFileTableRightMenu.
class CCmdTableWidget : public QTableWidget {
    Q_OBJECT
public:
    explicit CCmdTableWidget(QWidget* parent = nullptr);

signals:
    void SigShowFileTableRightMenu();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};
