// The rules for typed setting texts: the stored length, digits only, and the
// folder text's trailing "/".
#include "server/app/options/setting_text.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using options::CutToSetting;
using options::FitsSetting;
using options::NormaliseFolderText;
using options::TextKind;

// An empty text stands for the page's own folder, never the current
// directory (which an empty setting would otherwise name), whatever its length.
TEST(FolderText, EmptyBecomesThePagesOwnFolderWithATrailingSlash) {
    EXPECT_EQ(NormaliseFolderText("", [] { return std::string("/home/op/tftp/inbound/"); }),
              "/home/op/tftp/inbound/");
    EXPECT_EQ(NormaliseFolderText("", [] { return std::string("/home/op/tftp"); }), "/home/op/tftp/");
    const std::string deep = "/" + std::string(98, 'd');
    EXPECT_EQ(NormaliseFolderText("", [&] { return deep; }), deep + "/");
}

TEST(FolderText, ATrailingSlashIsAddedOnceAndTheOwnFolderIsNotAsked) {
    auto never = []() -> std::string {
        ADD_FAILURE() << "own folder asked for a non-empty text";
        return {};
    };
    EXPECT_EQ(NormaliseFolderText("/srv/tftp", never), "/srv/tftp/");
    EXPECT_EQ(NormaliseFolderText("/srv/tftp/", never), "/srv/tftp/");
    EXPECT_EQ(NormaliseFolderText("relative", never), "relative/");
}

TEST(SettingText, LimitCountsStoredBytes) {
    EXPECT_TRUE(FitsSetting(QString(99, 'a'), TextKind::Plain));
    EXPECT_FALSE(FitsSetting(QString(100, 'a'), TextKind::Plain));
    // Two bytes each once stored.
    EXPECT_TRUE(FitsSetting(QString(49, QChar(0xE9)), TextKind::Plain));
    EXPECT_FALSE(FitsSetting(QString(50, QChar(0xE9)), TextKind::Plain));
    // A folder needs room for the "/" its write-back adds.
    EXPECT_TRUE(FitsSetting(QString(98, 'a'), TextKind::Folder));
    EXPECT_FALSE(FitsSetting(QString(99, 'a'), TextKind::Folder));
    EXPECT_TRUE(FitsSetting(QString(98, 'a') + "/", TextKind::Folder));
    EXPECT_TRUE(FitsSetting("", TextKind::Folder));
}

TEST(SettingText, DigitsOnlyForPortAndTimeout) {
    EXPECT_TRUE(FitsSetting("069", TextKind::Digits));
    EXPECT_TRUE(FitsSetting("", TextKind::Digits));
    EXPECT_FALSE(FitsSetting("6a", TextKind::Digits));
    EXPECT_FALSE(FitsSetting("-1", TextKind::Digits));
    EXPECT_FALSE(FitsSetting(QString(100, '1'), TextKind::Digits));
}

TEST(SettingText, OverlongStoredValuesAreCutAtWholeCharacters) {
    EXPECT_EQ(CutToSetting(QString(150, 'a'), TextKind::Plain), QString(99, 'a'));
    const QString smile = QString::fromUtf8("\xF0\x9F\x99\x82");  // 4 bytes, two UTF-16 units
    const QString cut = CutToSetting(QString(97, 'a') + smile, TextKind::Plain);
    EXPECT_EQ(cut, QString(97, 'a'));
    EXPECT_EQ(CutToSetting("69abc", TextKind::Digits), "69abc");  // only the length is cut
    EXPECT_EQ(CutToSetting(QString(120, 'f'), TextKind::Folder), QString(98, 'f'));
}

TEST(SettingText, AnEditRefusesKeysThatWouldBreakTheRule) {
    QLineEdit port;
    options::LimitEdit(&port, TextKind::Digits);
    QTest::keyClicks(&port, "6x9 ");
    EXPECT_EQ(port.text(), "69");

    QLineEdit text;
    options::LimitEdit(&text, TextKind::Plain);
    QTest::keyClicks(&text, QString(120, 'p'));
    EXPECT_EQ(text.text(), QString(99, 'p'));

    QLineEdit folder;
    options::LimitEdit(&folder, TextKind::Folder);
    QTest::keyClicks(&folder, QString(99, 'f'));
    EXPECT_EQ(folder.text().size(), 98);
    QTest::keyClicks(&folder, "/");
    EXPECT_EQ(folder.text(), QString(98, 'f') + "/");
}
