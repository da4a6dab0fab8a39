// The download list as the queue reads it: the status the walk compares must always be the
// word the "Status" column shows, however the column was changed.
#include "app/Controls.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// Guards the status kept beside each entry for the queue's walk: if it drifted from the column
// text, a file would be fetched twice, skipped, or the completion page never shown.
TEST(DownloadList, WalkSeesEveryWayTheStatusColumnChanges)
{
    DownloadList list;
    QTreeWidgetItem* a = list.AddItem(QStringLiteral("http://h/a"), QStringLiteral("a"));
    QTreeWidgetItem* b = list.AddItem(QStringLiteral("http://h/b"), QStringLiteral("b"));
    QTreeWidgetItem* c = list.AddItem(QStringLiteral("http://h/c"), QStringLiteral("c"));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(list.FirstWithStatus(u""), a);  // a new entry has no status yet

    DownloadList::SetStatus(a, QStringLiteral("Valid"));
    b->setText(1, QStringLiteral("Valid"));
    list.model()->setData(list.model()->index(2, 1), QStringLiteral("Valid"), Qt::EditRole);  // as an editor would
    EXPECT_EQ(list.CountWithStatus(u"Valid"), 3);

    DownloadList::SetStatus(a, QStringLiteral("Done"));
    b->setData(1, Qt::DisplayRole, 7);  // not a string: the column shows "7"
    EXPECT_EQ(list.FirstWithStatus(u"Valid"), c);
    EXPECT_EQ(DownloadList::Status(b), QStringLiteral("7"));
    EXPECT_TRUE(DownloadList::HasStatus(b, u"7"));
    EXPECT_FALSE(DownloadList::HasStatus(a, u"Valid"));

    c->setText(0, QStringLiteral("Valid"));  // the file name column is not the status
    c->setText(1, QStringLiteral("Valid "));
    EXPECT_EQ(list.FirstWithStatus(u"Valid"), nullptr);
    for (int i = 0; i < list.ItemCount(); ++i)
        EXPECT_EQ(DownloadList::Status(list.Item(i)), list.Item(i)->text(1));

    // An entry put in without AddItem still counts.
    auto* plain = new QTreeWidgetItem(QStringList{QStringLiteral("d"), QStringLiteral("Valid")});
    list.addTopLevelItem(plain);
    EXPECT_EQ(list.FirstWithStatus(u"Valid"), plain);
    EXPECT_EQ(list.CountWithStatus(u"Done"), 1);
}

}  // namespace
}  // namespace tarnwick::test
