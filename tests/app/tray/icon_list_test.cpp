#include "app/tray/icon_list.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QSet>
#include <QtEndian>
#include <functional>
#include <string>
#include <vector>

namespace parvel::tray {
namespace {

TIcon Load(const QString& path) {
  TIcon icon;
  icon.LoadFromFile(path);
  return icon;
}

// The list's entries by their image size ("16", "32", "-" for an empty entry).
std::vector<std::string> Sizes(const TIconList& list) {
  std::vector<std::string> sizes;
  for (int i = 0; i < list.Count(); ++i) {
    const TIcon& icon = list.Get(i);
    sizes.push_back(icon.Empty() ? "-" : std::to_string(icon.Images().availableSizes().value(0).width()));
  }
  return sizes;
}

class IconListTest : public ::testing::Test {
 protected:
  IconListTest() {
    list_.OnChange = [this] { ++changes_; };
  }
  TIcon small_ = Load(":/tray/parvel-16.png");
  TIcon large_ = Load(":/tray/parvel-32.png");
  TIconList list_;
  int changes_ = 0;
};

TEST_F(IconListTest, EachOperationChangesTheListAndReportsOnce) {
  struct Step {
    const char* name;
    std::function<void(TIconList&)> run;
    std::vector<std::string> sizes;
  };
  const std::vector<Step> steps = {
      {"add", [&](TIconList& l) { l.Add(small_); }, {"16"}},
      {"add resource", [&](TIconList& l) { l.AddResource(":/tray/parvel-32.png"); }, {"16", "32"}},
      {"insert at the end", [&](TIconList& l) { l.Insert(2, TIcon()); }, {"16", "32", "-"}},
      {"insert first", [&](TIconList& l) { l.Insert(0, large_); }, {"32", "16", "32", "-"}},
      {"exchange", [&](TIconList& l) { l.Exchange(0, 3); }, {"-", "16", "32", "32"}},
      {"move forward", [&](TIconList& l) { l.Move(0, 2); }, {"16", "32", "-", "32"}},
      {"put", [&](TIconList& l) { l.Put(2, small_); }, {"16", "32", "16", "32"}},
      {"delete", [&](TIconList& l) { l.Delete(1); }, {"16", "16", "32"}},
      {"assign one icon", [&](TIconList& l) { l.Assign(large_); }, {"32"}},
      {"clear", [&](TIconList& l) { l.Clear(); }, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    changes_ = 0;
    step.run(list_);
    EXPECT_EQ(Sizes(list_), step.sizes);
    EXPECT_EQ(changes_, 1);
  }
  list_.Add(small_);
  EXPECT_EQ(list_.IndexOf(&list_.Get(0)), 0);
  EXPECT_EQ(list_.IndexOf(&small_), -1) << "the list holds copies";
}

TEST_F(IconListTest, IndexesOutsideTheListThrowAndChangeNothing) {
  list_.Add(small_);
  changes_ = 0;
  EXPECT_THROW(list_.Get(1), EListError);
  EXPECT_THROW(list_.Delete(-1), EListError);
  EXPECT_THROW(list_.Insert(2, large_), EListError);
  EXPECT_THROW(list_.Move(0, 1), EListError);
  EXPECT_THROW(list_.Exchange(0, 1), EListError);
  EXPECT_EQ(Sizes(list_), std::vector<std::string>{"16"});
  EXPECT_EQ(changes_, 0);
}

TEST_F(IconListTest, ChangesInsideAnUpdateBracketAreReportedOnceAtItsEnd) {
  list_.BeginUpdate();
  list_.Add(small_);
  list_.BeginUpdate();
  list_.Add(large_);
  list_.Exchange(0, 1);
  list_.EndUpdate();
  EXPECT_EQ(changes_, 0) << "the inner end is not the end of the bracket";
  list_.EndUpdate();
  EXPECT_EQ(changes_, 1);

  list_.BeginUpdate();
  list_.EndUpdate();
  EXPECT_EQ(changes_, 1) << "a bracket without changes reports nothing";

  TIconList other;
  other.Add(small_);
  list_.Assign(other);
  EXPECT_EQ(changes_, 2);
  EXPECT_EQ(Sizes(list_), std::vector<std::string>{"16"});
}

TEST_F(IconListTest, TheStoredFormReadsBackEntryForEntry) {
  list_.Add(large_);
  list_.Add(TIcon());
  list_.Add(small_);
  const QByteArray stored = list_.WriteData();
  const qsizetype expected = 4 + 3 * 4 + large_.Data().size() + small_.Data().size();
  ASSERT_EQ(stored.size(), expected);
  EXPECT_EQ(stored.left(4), QByteArray::fromHex("03000000"));
  EXPECT_EQ(qFromLittleEndian<int32_t>(stored.constData() + 4), large_.Data().size());
  EXPECT_EQ(stored.mid(8, large_.Data().size()), large_.Data());
  EXPECT_EQ(qFromLittleEndian<int32_t>(stored.constData() + 8 + large_.Data().size()), 0);

  TIconList read;
  read.ReadData(stored);
  ASSERT_EQ(read.Count(), 3);
  EXPECT_EQ(read.Get(0).Data(), large_.Data());
  EXPECT_TRUE(read.Get(1).Empty());
  EXPECT_EQ(read.Get(2).Data(), small_.Data());
  EXPECT_EQ(Sizes(read), (std::vector<std::string>{"32", "-", "16"}));
}

TEST_F(IconListTest, ANegativeSizeIsAnEmptyEntryAndATruncatedFormChangesNothing) {
  QByteArray stored = QByteArray::fromHex(
      "02000000"
      "ffffffff"
      "00000000");
  list_.ReadData(stored);
  EXPECT_EQ(Sizes(list_), (std::vector<std::string>{"-", "-"}));

  list_.Assign(small_);
  changes_ = 0;
  QByteArray whole = list_.WriteData();
  for (qsizetype cut : {qsizetype{2}, qsizetype{6}, whole.size() - 1}) {
    EXPECT_THROW(list_.ReadData(whole.left(cut)), EListError) << cut;
  }
  QByteArray garbage = QByteArray::fromHex(
                           "01000000"
                           "03000000") +
                       "abc";
  EXPECT_THROW(list_.ReadData(garbage), EInvalidGraphic);
  EXPECT_EQ(Sizes(list_), std::vector<std::string>{"16"});
  EXPECT_EQ(changes_, 0);
}

// The PNGs in the program are made from the XPM drawings beside them: same pixels, 16 colours.
TEST(AgentIconTest, ThePngsAreTheDrawingsWithSixteenColoursAtMost) {
  for (int size : {16, 32}) {
    SCOPED_TRACE(size);
    const QImage png =
        QImage(QString(":/tray/parvel-%1.png").arg(size)).convertToFormat(QImage::Format_ARGB32);
    const QImage xpm = QImage(QString(PARVEL_TRAY_ICONS_DIR "/parvel-%1.xpm").arg(size))
                           .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(png.size(), QSize(size, size));
    EXPECT_EQ(png, xpm);
    QSet<QRgb> colours;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        if (qAlpha(png.pixel(x, y)) != 0) colours.insert(png.pixel(x, y));
      }
    }
    EXPECT_LE(colours.size(), 16);
    EXPECT_GE(colours.size(), 4);
  }
}

}  // namespace
}  // namespace parvel::tray
