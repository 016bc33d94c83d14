#include "wlistview.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

namespace {

bool carriesFiles(const QMimeData* data)
{
    return data && (data->hasUrls() || data->hasText());
}

} // namespace

WListView::WListView(QWidget* parent) : QTreeWidget(parent)
{
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
}

QString WListView::decodeDroppedText(const QString& text, Decoding decoding)
{
    QString decoded = text;
    if (decoding == Decoding::Full) {
        decoded.replace(QLatin1String("%5b"), QLatin1String("["));
        decoded.replace(QLatin1String("%5d"), QLatin1String("]"));
        decoded.replace(QLatin1String("%20"), QLatin1String(" "));
        decoded.replace(QLatin1String("%5c"), QLatin1String("/"));
    } else {
        decoded.replace(QLatin1String("%5c"), QLatin1String("/"));
        decoded.replace(QLatin1String("%20"), QLatin1String(" "));
    }
    return decoded;
}

QString WListView::droppedFiles(const QMimeData& data, Decoding decoding)
{
    if (data.hasUrls()) {
        QStringList paths;
        for (const QUrl& url : data.urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
        // Remote URLs alone: nothing that can be opened as a file.
        if (!paths.isEmpty() || !data.hasText())
            return paths.join(QLatin1Char('\n'));
    }
    return data.hasText() ? decodeDroppedText(data.text(), decoding) : QString();
}

void WListView::dragEnterEvent(QDragEnterEvent* event)
{
    if (carriesFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void WListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (carriesFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void WListView::dropEvent(QDropEvent* event)
{
    if (!carriesFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    const QString files = droppedFiles(*event->mimeData(), m_decoding);
    if (!files.isEmpty())
        emit DroppedFile(files);
}

void WListView::setEmptyText(const QString& text)
{
    m_emptyText = text;
    viewport()->update();
}

void WListView::paintEvent(QPaintEvent* event)
{
    QTreeWidget::paintEvent(event);
    if (m_emptyText.isEmpty() || topLevelItemCount() > 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    const QRect area = viewport()->rect().adjusted(24, 24, -24, -24);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, m_emptyText);
}
