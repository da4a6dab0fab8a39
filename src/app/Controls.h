// The window's controls beyond plain Qt widgets: a progress bar that refuses values outside its
// range, the download list with unique keys and a status column, and the caption operation that
// translation and the pages use on labels and buttons alike.
#pragma once

#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>

namespace tarnwick {

// Twips to device-independent pixels: 15 twips to one pixel.
constexpr int Twips(int twips) { return twips / 15; }

// Min, Max and Value as the pages use them: a value outside Min..Max, or a Max not above Min,
// is refused (false) and the bar keeps what it had.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;
    bool SetMax(int max);
    bool SetMin(int min);
    bool SetValue(int value);
};

// A label that sizes itself to its text on a single line whenever the text changes.
class AutoSizeLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};

// An entry of the download list. The queue reads the status of every entry on each walk from
// the top, so the word is kept beside the column text, where a comparison needs no QVariant or
// string copy; every change of the column text goes through setData and keeps the two equal.
class DownloadItem : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    DownloadItem(const QString& text, const QString& key);
    void setData(int column, int role, const QVariant& value) override;
    const QString& StatusWord() const { return m_status; }

private:
    QString m_status;
};

// The two-column report list. Each item carries a unique key (its URL), its text in column
// "File" and its status word in column "Status".
class DownloadList : public QTreeWidget {
    Q_OBJECT
public:
    explicit DownloadList(QWidget* parent = nullptr);

    // The new item, or nullptr (and nothing added) when the key is already present.
    QTreeWidgetItem* AddItem(const QString& key, const QString& text);
    int ItemCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* Item(int index) const { return topLevelItem(index); }

    // The item with this key, or nullptr.
    QTreeWidgetItem* ItemByKey(const QString& key) const { return m_items.value(key); }
    static QString Key(const QTreeWidgetItem* item);
    static QString Status(const QTreeWidgetItem* item);
    static void SetStatus(QTreeWidgetItem* item, const QString& status);
    static bool HasStatus(const QTreeWidgetItem* item, QStringView status);

    int CountWithStatus(QStringView status) const;
    // The first item, walking from the top, that is still "Valid". An item that has left
    // "Valid" for "Busy...", "Done" or "Failed" never returns to it, so the walk starts after
    // the items already known to be taken: the end of a long list costs what its start did.
    QTreeWidgetItem* FirstValid();

private:
    QHash<QString, QTreeWidgetItem*> m_items;  // by key; a second entry with a key is refused
    int m_taken = 0;                           // the items above this index have all been taken by the queue
};

// Caption of a label or a button; false for a control that has none.
bool SetCaption(QObject* control, const QString& caption);
QString Caption(const QObject* control);
bool HasCaption(const QObject* control);

}  // namespace tarnwick
