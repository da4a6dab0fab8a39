#include "app/Controls.h"

#include <QAbstractButton>
#include "settings/Texts.h"

#include <QHeaderView>

#include <algorithm>

namespace tarnwick {
namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kStatusColumn = 1;
}  // namespace

bool ProgressBar::SetMax(int max)
{
    if (max <= minimum())
        return false;
    setMaximum(max);
    return true;
}

bool ProgressBar::SetMin(int min)
{
    if (min >= maximum())
        return false;
    setMinimum(min);
    return true;
}

bool ProgressBar::SetValue(int value)
{
    if (value < minimum() || value > maximum())
        return false;
    setValue(value);
    return true;
}

DownloadList::DownloadList(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("File"), QStringLiteral("Status")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
}

DownloadItem::DownloadItem(const QString& text, const QString& key)
    : QTreeWidgetItem(QStringList{text, QString()}, kType)
{
    QTreeWidgetItem::setData(0, kKeyRole, key);
}

void DownloadItem::setData(int column, int role, const QVariant& value)
{
    // Display and edit role share one value in a tree widget item, which text() gives as a
    // string whatever type the caller passed. The copy is set first: the base class announces
    // the change (itemChanged), and a handler must read the new word.
    if (column == kStatusColumn && (role == Qt::DisplayRole || role == Qt::EditRole))
        m_status = value.toString();
    QTreeWidgetItem::setData(column, role, value);
}

QTreeWidgetItem* DownloadList::AddItem(const QString& key, const QString& text)
{
    if (m_items.contains(key))
        return nullptr;
    auto* item = new DownloadItem(text, key);
    addTopLevelItem(item);
    m_items.insert(key, item);
    return item;
}

QString DownloadList::Key(const QTreeWidgetItem* item) { return item->data(0, kKeyRole).toString(); }

QString DownloadList::Status(const QTreeWidgetItem* item)
{
    if (item->type() == DownloadItem::kType)
        return static_cast<const DownloadItem*>(item)->StatusWord();
    return item->text(kStatusColumn);
}

void DownloadList::SetStatus(QTreeWidgetItem* item, const QString& status) { item->setText(kStatusColumn, status); }

bool DownloadList::HasStatus(const QTreeWidgetItem* item, QStringView status)
{
    if (item->type() == DownloadItem::kType)
        return static_cast<const DownloadItem*>(item)->StatusWord() == status;
    return item->text(kStatusColumn) == status;
}

QTreeWidgetItem* DownloadList::FirstValid()
{
    const int count = topLevelItemCount();
    const QString valid = QString::fromLatin1(status::kValid);
    const QString busy = QString::fromLatin1(status::kBusy);
    const QString done = QString::fromLatin1(status::kDone);
    const QString failed = QString::fromLatin1(status::kFailed);
    auto isTaken = [&](const QTreeWidgetItem* item) {
        return HasStatus(item, busy) || HasStatus(item, done) || HasStatus(item, failed);
    };
    m_taken = std::min(m_taken, count);
    while (m_taken < count && isTaken(topLevelItem(m_taken)))
        ++m_taken;
    for (int i = m_taken; i < count; ++i) {
        if (HasStatus(topLevelItem(i), valid))
            return topLevelItem(i);
    }
    return nullptr;
}

int DownloadList::CountWithStatus(QStringView status) const
{
    int found = 0;
    const int count = topLevelItemCount();
    for (int i = 0; i < count; ++i)
        found += HasStatus(topLevelItem(i), status) ? 1 : 0;
    return found;
}

bool SetCaption(QObject* control, const QString& caption)
{
    if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(caption);
        if (qobject_cast<AutoSizeLabel*>(label))
            label->adjustSize();
        return true;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(caption);
        return true;
    }
    return false;
}

QString Caption(const QObject* control)
{
    if (auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    return {};
}

bool HasCaption(const QObject* control)
{
    return qobject_cast<const QLabel*>(control) || qobject_cast<const QAbstractButton*>(control);
}

}  // namespace tarnwick
