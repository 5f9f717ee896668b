#include "framework/cardscrollarea.h"

#include <QEvent>
#include <QLayout>
#include <QScrollBar>

CardScrollArea::CardScrollArea(QWidget* parent)
    : QScrollArea(parent)
    , m_overlayBar(new QScrollBar(Qt::Vertical, this))
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    const QString style = QStringLiteral(
        "QScrollBar:vertical {\tborder: 0px; background: rgba(0, 0, 0, 0); margin: 0px; "
        "padding: 0px;}"
        "QScrollBar::handle:vertical {\tbackground: rgba(128, 128, 128, 128); margin: 0px; "
        "margin-top: 4px; margin-bottom: 4px;\twidth: 7px; min-height: 40px; border-radius: 3px;}"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical, "
        "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical, "
        "QScrollBar::up-arrow:vertical, QScrollBar::down-arrow:vertical {\theight: 0px; "
        "width: 0px; border: 0px; background: none;}");
    verticalScrollBar()->setStyleSheet(style);
    m_overlayBar->setStyleSheet(style);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, m_overlayBar, &QScrollBar::setValue);
    connect(m_overlayBar, &QScrollBar::valueChanged, verticalScrollBar(), &QScrollBar::setValue);
    m_overlayBar->hide();
}

void CardScrollArea::setOverlayBarVisible(bool visible)
{
    m_overlayBar->setVisible(visible);
}

void CardScrollArea::sync()
{
    const QScrollBar* native = verticalScrollBar();
    m_overlayBar->setMaximum(native->maximum());
    m_overlayBar->setPageStep(native->pageStep());
    m_overlayBar->setValue(native->value());
    setOverlayBarVisible(widget() && widget()->height() > height());
}

void CardScrollArea::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    m_overlayBar->setFixedSize(7, height());
    m_overlayBar->move(width() - 11, 0);
    sync();
}

bool CardScrollArea::eventFilter(QObject* obj, QEvent* event)
{
    QWidget* content = widget();
    if (content && obj == content && event->type() == QEvent::LayoutRequest) {
        // The content grew or shrank: size it to its rows (and to the area's width), then let
        // the bars follow.
        if (QLayout* layout = content->layout())
            layout->activate();
        content->adjustSize();
        if (widgetResizable())
            content->resize(viewport()->width(),
                            qMax(content->sizeHint().height(), viewport()->height()));
        sync();
        return true;
    }
    return QScrollArea::eventFilter(obj, event);
}
