#include "CCmdTableWidget.h"

#include <QContextMenuEvent>
#include <QHeaderView>

CCmdTableWidget::CCmdTableWidget(QWidget* parent)
    : QTableWidget(0, 3, parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
}

void CCmdTableWidget::contextMenuEvent(QContextMenuEvent* event)
{
    // The menu acts on the row that was clicked, not on an older selection; a click
    // on empty space leaves no row current.
    const QModelIndex index = indexAt(event->pos()); // viewport coordinates;
    if (index.isValid())
        setCurrentCell(index.row(), index.column());
    else
        setCurrentCell(-1, -1);
    emit SigShowFileTableRightMenu();
    event->accept();
}
