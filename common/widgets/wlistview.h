// The ship lists of both programs: a tree widget that takes dropped file names.
// A drop emits DroppedFile with one path per line.
#pragma once

#include <QString>
#include <QTreeWidget>

class QMimeData;

class WListView : public QTreeWidget
{
    Q_OBJECT
public:
    enum class Decoding {
        Installer, // only "%5c" -> "/" and "%20" -> " "
        Full,      // also "%5b" -> "[" and "%5d" -> "]"
    };

    explicit WListView(QWidget* parent = nullptr);

    void setDecoding(Decoding decoding) { m_decoding = decoding; }
    Decoding decoding() const { return m_decoding; }
    // Shown in the middle of the list while it has no items.
    void setEmptyText(const QString& text);

    // Dropped text as the programs have always decoded it.
    static QString decodeDroppedText(const QString& text, Decoding decoding);
    // What a drop hands on: file URLs (what file managers send) as local paths
    // joined by "\n", else the decoded text; empty when the data carries neither.
    static QString droppedFiles(const QMimeData& data, Decoding decoding);

signals:
    void DroppedFile(const QString& files);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Decoding m_decoding = Decoding::Installer;
    QString m_emptyText;
};
