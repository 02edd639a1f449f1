#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>

#include "mainwindow/icon_set.h"
#include "mainwindow/list_view.h"
#include "mainwindow/tree_view.h"
#include "test_app.h"

using mainwindow::ListView;
using mainwindow::TreeView;

namespace {

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.AddColumn("File name", 266);
    list.AddColumn("Size", 73, Qt::AlignRight);
    list.show();
  }
  void Add(const QString& key, const QString& text, const QString& size = QString()) {
    ASSERT_TRUE(list.AddItem(key, text, "Directory"));
    if (!size.isEmpty()) list.SetSubItem(key, 1, size);
  }
  QApplication& app_ = TestApp();   // before any widget
  ListView list;
};

}  // namespace

TEST_F(ListViewTest, ItemsByKeyAndNumber) {
  Add("D..", "..");
  Add("D3", "Films");
  Add("i5", "news.rec", "1.00 GB");
  EXPECT_FALSE(list.AddItem("D3", "again"));
  EXPECT_FALSE(list.AddItem("", "no key"));
  EXPECT_EQ(list.ItemCount(), 3);
  EXPECT_EQ(list.Keys(), QStringList({"D..", "D3", "i5"}));
  EXPECT_EQ(list.KeyAt(1), "D..");
  EXPECT_EQ(list.KeyAt(3), "i5");
  EXPECT_EQ(list.KeyAt(4), "");
  EXPECT_EQ(list.KeyAt(0), "");
  EXPECT_EQ(list.NumberOf("i5"), 3);
  EXPECT_EQ(list.NumberOf("I5"), 3);   // keys compare without case
  EXPECT_EQ(list.NumberOf("i6"), 0);
  EXPECT_EQ(list.SubItem("i5", 1), "1.00 GB");
  EXPECT_EQ(list.SubItem("i5", 2), "");  // no such column
  EXPECT_EQ(list.IconKey("D3"), "Directory");
  EXPECT_TRUE(list.RemoveItem("D3"));
  EXPECT_EQ(list.Keys(), QStringList({"D..", "i5"}));
  list.Clear();
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_TRUE(list.AddItem("D3", "Films"));   // the key is free again
}

TEST_F(ListViewTest, ProgramChangesRaiseNoEventsUserChecksDo) {
  Add("D..", "..");
  Add("i5", "news.rec");
  QStringList events;
  QObject::connect(&list, &ListView::ItemCheck, [&](const QString& key, bool checked) {
    events.append(key + (checked ? "+" : "-"));
    // The ".." item refuses the check mark, as the pane does.
    if (key == "D.." && checked) list.SetChecked(key, false);
  });
  list.SetChecked("i5", true);
  list.SetBold("i5", true);
  list.SetSelectedKey("i5");
  EXPECT_TRUE(events.isEmpty());
  EXPECT_TRUE(list.Checked("i5"));
  EXPECT_TRUE(list.Bold("i5"));
  EXPECT_EQ(list.SelectedKey(), "i5");

  list.UserSetChecked("i5", false);
  list.UserSetChecked("i5", false);   // no change, no event
  list.UserSetChecked("D..", true);
  EXPECT_EQ(events, QStringList({"i5-", "D..+"}));
  EXPECT_FALSE(list.Checked("D.."));
  // The refused check does not come back as an event of its own later.
  list.UserSetChecked("D..", true);
  EXPECT_EQ(events.size(), 3);
}

TEST_F(ListViewTest, UserClickRaisesMouseDownItemClickClickInOrder) {
  Add("D3", "Films");
  Add("i5", "news.rec");
  QStringList events;
  QObject::connect(&list, &ListView::MouseDown,
                   [&](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint) {
                     events.append(button == Qt::RightButton ? "down-right" : "down-left");
                   });
  QObject::connect(&list, &ListView::ItemClick, [&](const QString& key) {
    events.append("item " + key + " selected " + list.SelectedKey());
  });
  QObject::connect(&list, &ListView::Click, [&] { events.append("click"); });
  QObject::connect(&list, &ListView::DblClick, [&] { events.append("dbl"); });
  list.UserClickItem("i5", Qt::RightButton);
  list.UserDoubleClickItem("D3");
  EXPECT_EQ(events, QStringList({"down-right", "item i5 selected i5", "click", "down-left",
                                 "item D3 selected D3", "click", "dbl"}));
}

TEST_F(ListViewTest, SortIsStableAndIgnoresCase) {
  Add("i1", "beta", "2");
  Add("i2", "Alpha", "1");
  Add("i3", "alpha", "3");
  Add("i4", "Gamma", "1");
  list.SortByColumn(0, Qt::AscendingOrder);
  EXPECT_EQ(list.Keys(), QStringList({"i2", "i3", "i1", "i4"}));
  list.SortByColumn(1, Qt::DescendingOrder);
  EXPECT_EQ(list.Keys(), QStringList({"i3", "i1", "i2", "i4"}));
  // Sorting through a temporary column, then dropping it.
  const int temp = list.AddColumn(QString(), 0);
  EXPECT_EQ(temp, 2);
  for (const QString& key : list.Keys()) list.SetSubItem(key, temp, "C" + list.Text(key).toLower());
  list.SetSubItem("i4", temp, "Agamma");
  list.SortByColumn(temp, Qt::AscendingOrder);
  list.RemoveLastColumn();
  EXPECT_EQ(list.ColumnCount(), 2);
  EXPECT_EQ(list.columnCount(), 2);
  EXPECT_EQ(list.Keys(), QStringList({"i4", "i3", "i2", "i1"}));
}

TEST_F(ListViewTest, AutoSortPlacesNewItems) {
  list.SetAutoSort(true, 1, Qt::AscendingOrder);
  Add("i1", "a", "2024-01-02 10:00");
  Add("i2", "b", "2023-12-31 23:59");
  Add("i3", "c");
  list.SetSubItem("i3", 1, "2024-01-01 00:00");
  EXPECT_EQ(list.Keys(), QStringList({"i2", "i3", "i1"}));
  list.SetAutoSort(false);
  Add("i4", "d", "2000-01-01 00:00");
  EXPECT_EQ(list.KeyAt(4), "i4");
}

TEST_F(ListViewTest, ColumnsAndHeaderIcons) {
  QPixmap green(16, 16);
  green.fill(Qt::green);
  mainwindow::RegisterIcon("SortAsc", QIcon(green));
  EXPECT_EQ(list.ColumnCaption(1), "Size");
  EXPECT_EQ(list.ColumnAlignment(1), Qt::AlignRight);
  EXPECT_EQ(list.header()->sectionSize(0), 266);
  list.SetColumnIcon(0, "SortAsc");
  EXPECT_EQ(list.ColumnIconKey(0), "SortAsc");
  EXPECT_FALSE(list.headerItem()->icon(0).isNull());
  list.SetColumnIcon(0, "SortEmpty");   // not registered: key kept, no picture
  EXPECT_EQ(list.ColumnIconKey(0), "SortEmpty");
  EXPECT_TRUE(list.headerItem()->icon(0).isNull());
  int clicked = -1;
  QObject::connect(&list, &ListView::ColumnClick, [&](int column) { clicked = column; });
  emit list.header()->sectionClicked(1);
  EXPECT_EQ(clicked, 1);
}

TEST_F(ListViewTest, LabelEditAskedBeforeAndAfter) {
  Add("D..", "..");
  Add("i5", "news.rec");
  QStringList events;
  bool refuseAfter = false;
  QObject::connect(&list, &ListView::BeforeLabelEdit, [&](const QString& key, bool* cancel) {
    events.append("before " + key);
    if (key == "D..") *cancel = true;
  });
  QObject::connect(&list, &ListView::AfterLabelEdit,
                   [&](const QString& key, const QString& text, bool* cancel) {
                     events.append("after " + key + " " + text);
                     if (text.isEmpty() || refuseAfter) *cancel = true;
                   });
  EXPECT_FALSE(list.StartLabelEdit("D.."));
  EXPECT_FALSE(list.Editing());

  ASSERT_TRUE(list.StartLabelEdit("i5"));
  EXPECT_EQ(list.EditingKey(), "i5");
  EXPECT_TRUE(list.FinishLabelEdit(""));      // refused: the old text stays
  EXPECT_FALSE(list.Editing());
  EXPECT_EQ(list.Text("i5"), "news.rec");

  ASSERT_TRUE(list.StartLabelEdit("i5"));
  EXPECT_TRUE(list.FinishLabelEdit("old news.rec"));
  EXPECT_EQ(list.Text("i5"), "old news.rec");

  ASSERT_TRUE(list.StartLabelEdit("i5"));
  list.CancelLabelEdit();                      // Escape: nothing asked, nothing changed
  EXPECT_FALSE(list.Editing());
  EXPECT_FALSE(list.FinishLabelEdit("x"));
  EXPECT_EQ(list.Text("i5"), "old news.rec");
  EXPECT_EQ(events, QStringList({"before D..", "before i5", "after i5 ", "before i5",
                                 "after i5 old news.rec", "before i5"}));
}

TEST_F(ListViewTest, HandlerRebuildingTheListDuringTheEditIsSafe) {
  Add("i5", "news.rec");
  QObject::connect(&list, &ListView::AfterLabelEdit,
                   [&](const QString&, const QString& text, bool*) {
                     list.Clear();
                     list.AddItem("i5", text);
                   });
  ASSERT_TRUE(list.StartLabelEdit("i5"));
  EXPECT_TRUE(list.FinishLabelEdit("renamed.rec"));
  EXPECT_EQ(list.Text("i5"), "renamed.rec");
  EXPECT_FALSE(list.Editing());
}

TEST(TreeViewTest, NodesKeysAndEvents) {
  TestApp();
  TreeView tree;
  ASSERT_TRUE(tree.AddNode("", "\\", "Topfield", "Topfield"));
  ASSERT_TRUE(tree.AddNode("\\", "\\DataFiles\\", "DataFiles", "ExplorerClosed", "ExplorerOpen"));
  ASSERT_TRUE(tree.AddNode("\\", "\\ProgramFiles\\", "ProgramFiles", "ExplorerClosed", "ExplorerOpen"));
  ASSERT_TRUE(tree.AddNode("\\DataFiles\\", "\\DataFiles\\Sub\\", "Sub", "ExplorerClosed"));
  EXPECT_FALSE(tree.AddNode("\\Missing\\", "\\Missing\\X\\", "X"));
  EXPECT_FALSE(tree.AddNode("", "\\", "again"));
  EXPECT_EQ(tree.Keys(), QStringList({"\\", "\\DataFiles\\", "\\DataFiles\\Sub\\",
                                      "\\ProgramFiles\\"}));
  EXPECT_EQ(tree.ParentKey("\\DataFiles\\Sub\\"), "\\DataFiles\\");
  EXPECT_EQ(tree.ChildKeys("\\"), QStringList({"\\DataFiles\\", "\\ProgramFiles\\"}));
  EXPECT_TRUE(tree.Contains("\\datafiles\\"));
  EXPECT_EQ(tree.SelectedIconKey("\\DataFiles\\"), "ExplorerOpen");
  EXPECT_EQ(tree.SelectedIconKey("\\DataFiles\\Sub\\"), "ExplorerClosed");

  QStringList events;
  QObject::connect(&tree, &TreeView::NodeClick, [&](const QString& key) { events.append("click " + key); });
  QObject::connect(&tree, &TreeView::Expand, [&](const QString& key) { events.append("expand " + key); });
  tree.SetSelectedKey("\\ProgramFiles\\");
  EXPECT_EQ(tree.SelectedKey(), "\\ProgramFiles\\");
  tree.SetExpanded("\\DataFiles\\", true);
  tree.SetExpanded("\\DataFiles\\", true);     // already expanded: once only
  tree.UserClickNode("\\DataFiles\\Sub\\");
  EXPECT_EQ(events, QStringList({"expand \\DataFiles\\", "click \\DataFiles\\Sub\\"}));
  EXPECT_EQ(tree.SelectedKey(), "\\DataFiles\\Sub\\");
  tree.SetTag("\\DataFiles\\", "*");
  EXPECT_EQ(tree.Tag("\\DataFiles\\"), "*");
  tree.Clear();
  EXPECT_EQ(tree.NodeCount(), 0);
  EXPECT_TRUE(tree.Keys().isEmpty());
}
