// The folder browser walking real folders, and the drive list made from the
// mount table.
#include "server/app/options/folder_browser.h"
#include "server/app/options/folder_system.h"

#include "options_test_support.h"
#include "tests/support/temp_dir.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;
using tests::Control;
using tests::DoubleClickEntry;

namespace {

QStringList Entries(const CFolderBrowser& browser) {
    QStringList entries;
    auto* list = Control<QListWidget>(&browser, CFolderBrowser::IDC_FOLDERS);
    for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
    return entries;
}

QString Shown(const CFolderBrowser& browser) {
    return Control<QLineEdit>(&browser, CFolderBrowser::IDC_PATH)->text();
}

QListWidget* List(const CFolderBrowser& browser) {
    return Control<QListWidget>(&browser, CFolderBrowser::IDC_FOLDERS);
}

QComboBox* Drives(const CFolderBrowser& browser) {
    return Control<QComboBox>(&browser, CFolderBrowser::IDC_DRIVES);
}

// A tree with folders (one hidden, one reached through a link), files, and a
// folder whose name begins "..".
class FolderTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.Path() + "/";
        for (const char* d : {"boot", "Alpha", ".hidden", "boot/pxelinux.cfg", "..odd"})
            fs::create_directories(root + d);
        tests::WriteFile(root + "kernel.img", "k");
        tests::WriteFile(root + "boot/menu.txt", "m");
        fs::create_directory_symlink(root + "boot", root + "linked");
        fs::create_symlink(root + "missing", root + "dangling");
    }

    tests::TempDir dir;
    std::string root;
};

}  // namespace

TEST_F(FolderTree, ListsSubFoldersHiddenOnesTooButNeverFiles) {
    CFolderBrowser browser(root, nullptr, [] { return std::vector<std::string>{"/"}; });
    EXPECT_EQ(browser.windowTitle(), "Folder Browser");
    EXPECT_EQ(Entries(browser),
              QStringList({"[..]", ".hidden", "Alpha", "boot", "linked"}));
    EXPECT_EQ(Shown(browser), QString::fromStdString(root));
    EXPECT_TRUE(Control<QLineEdit>(&browser, CFolderBrowser::IDC_PATH)->isReadOnly());
}

TEST_F(FolderTree, AFileNameAtTheEndOfThePathIsDropped) {
    CFolderBrowser browser(root + "kernel.img", nullptr, [] { return std::vector<std::string>{}; });
    EXPECT_EQ(browser.Path(), root);
    EXPECT_EQ(Entries(browser).size(), 5);
}

TEST_F(FolderTree, DoubleClickWalksDownAndUpToTheRoot) {
    CFolderBrowser browser(root, nullptr, [] { return std::vector<std::string>{"/"}; });
    browser.show();
    DoubleClickEntry(List(browser), "boot");
    EXPECT_EQ(browser.Path(), root + "boot/");
    EXPECT_EQ(Entries(browser), QStringList({"[..]", "pxelinux.cfg"}));
    EXPECT_EQ(Shown(browser), QString::fromStdString(root + "boot/"));

    DoubleClickEntry(List(browser), "[..]");
    EXPECT_EQ(browser.Path(), root);

    // Up and up: every level offers "[..]" until "/" is reached.
    int levels = 0;
    while (browser.Path() != "/" && levels < 64) {
        ASSERT_EQ(Entries(browser).value(0), "[..]") << browser.Path();
        DoubleClickEntry(List(browser), "[..]");
        ++levels;
    }
    EXPECT_EQ(browser.Path(), "/");
    EXPECT_FALSE(Entries(browser).contains("[..]"));
    EXPECT_EQ(levels, static_cast<int>(std::count(root.begin(), root.end(), '/')) - 1);
}

TEST_F(FolderTree, DoubleClickOnNothingDoesNothing) {
    CFolderBrowser browser(root, nullptr, [] { return std::vector<std::string>{}; });
    browser.show();
    auto* list = List(browser);
    ASSERT_LT(list->visualItemRect(list->item(list->count() - 1)).bottom(),
              list->viewport()->height() - 4);
    const QPoint below(5, list->viewport()->height() - 2);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(browser.Path(), root);
    EXPECT_EQ(Entries(browser).size(), 5);
}

TEST_F(FolderTree, AFolderNamedLikeTheUpEntryIsEnteredNotLeft) {
    fs::create_directory(root + "boot/[..]");
    CFolderBrowser browser(root + "boot/", nullptr, [] { return std::vector<std::string>{}; });
    browser.show();
    auto* list = List(browser);
    ASSERT_EQ(Entries(browser), QStringList({"[..]", "[..]", "pxelinux.cfg"}));
    tests::DoubleClickRow(list, 1);
    EXPECT_EQ(browser.Path(), root + "boot/[..]/");
}

TEST_F(FolderTree, EmptyPathListsTheCurrentDirectoryAndWalksRelative) {
    struct InFolder {
        explicit InFolder(const std::string& folder) : before(folders::CurrentDirectory()) {
            EXPECT_EQ(chdir(folder.c_str()), 0);
        }
        ~InFolder() { EXPECT_EQ(chdir(before.c_str()), 0); }
        std::string before;
    } inRoot(root);

    CFolderBrowser browser("", nullptr, [] { return std::vector<std::string>{"/"}; });
    browser.show();
    EXPECT_EQ(Entries(browser), QStringList({".hidden", "Alpha", "boot", "linked"}));
    EXPECT_EQ(Drives(browser)->currentIndex(), -1);
    DoubleClickEntry(List(browser), "boot");
    EXPECT_EQ(browser.Path(), "boot/");
    // "[..]" from a relative folder returns to the current directory.
    DoubleClickEntry(List(browser), "[..]");
    EXPECT_EQ(browser.Path(), "");
    EXPECT_EQ(Entries(browser).value(0), ".hidden");
}

TEST_F(FolderTree, TheDriveHoldingThePathIsSelectedAndChoosingADriveGoesThere) {
    const std::vector<std::string> drives = {"/", root, root + "boot/"};
    CFolderBrowser browser(root + "Alpha/", nullptr, [&] { return drives; });
    browser.show();
    QComboBox* combo = Drives(browser);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentText(), QString::fromStdString(root));  // the longest that holds it

    QTest::keyClick(combo, Qt::Key_Home);  // the user picks "/"
    EXPECT_EQ(browser.Path(), "/");
    EXPECT_FALSE(Entries(browser).contains("[..]"));
    QTest::keyClick(combo, Qt::Key_End);
    EXPECT_EQ(browser.Path(), root + "boot/");
    EXPECT_EQ(Entries(browser), QStringList({"[..]", "pxelinux.cfg"}));
}

TEST_F(FolderTree, OkHandsBackTheWalkedPathAndCancelReportsRejection) {
    {
        CFolderBrowser browser(root, nullptr, [] { return std::vector<std::string>{}; });
        browser.show();
        DoubleClickEntry(List(browser), "boot");
        tests::Click(&browser, CFolderBrowser::IDOK_BUTTON);
        EXPECT_EQ(browser.result(), QDialog::Accepted);
        EXPECT_EQ(browser.Path(), root + "boot/");
    }
    CFolderBrowser browser(root, nullptr, [] { return std::vector<std::string>{}; });
    browser.show();
    tests::Click(&browser, CFolderBrowser::IDCANCEL_BUTTON);
    EXPECT_EQ(browser.result(), QDialog::Rejected);
}

TEST_F(FolderTree, OkIsRefusedWhileThePathIsTooLongToStore) {
    std::string deep = root;
    while (deep.size() <= 120) {
        deep += "level/";
        fs::create_directory(deep);
    }
    CFolderBrowser browser(deep, nullptr, [] { return std::vector<std::string>{}; });
    browser.SetMaxPathLength(99);
    auto* ok = Control<QPushButton>(&browser, CFolderBrowser::IDOK_BUTTON);
    EXPECT_FALSE(ok->isEnabled());
    browser.show();
    while (browser.Path().size() > 99) DoubleClickEntry(List(browser), "[..]");
    EXPECT_TRUE(ok->isEnabled());
}

TEST(FolderPaths, ParentAndFolderOfPath) {
    EXPECT_EQ(folders::ParentFolder("/srv/tftp/boot/"), "/srv/tftp/");
    EXPECT_EQ(folders::ParentFolder("/srv/"), "/");
    EXPECT_EQ(folders::ParentFolder("boot/"), "");
    EXPECT_EQ(folders::ParentFolder("a/b/"), "a/");
    EXPECT_EQ(folders::ParentFolder("/"), "/");
    EXPECT_EQ(folders::FolderOfPath("/srv/tftp/boot.img"), "/srv/tftp/");
    EXPECT_EQ(folders::FolderOfPath("/srv/tftp"), "/srv/");
    EXPECT_EQ(folders::FolderOfPath("boot.img"), "");
    EXPECT_EQ(folders::FolderOfPath("/srv/tftp/"), "/srv/tftp/");
    EXPECT_FALSE(folders::HasParentEntry("/"));
    EXPECT_FALSE(folders::HasParentEntry(""));
    EXPECT_TRUE(folders::HasParentEntry("/tmp/"));  // a mount point still has "/" above it
}

TEST(FolderDrives, MountTableGivesRealFileSystemsSortedWithTrailingSlash) {
    const std::string mounts =
        "proc /proc proc rw 0 0\n"
        "sysfs /sys sysfs rw 0 0\n"
        "devtmpfs /dev devtmpfs rw 0 0\n"
        "tmpfs /dev/shm tmpfs rw 0 0\n"
        "/dev/vda / ext4 rw 0 0\n"
        "tmpfs /tmp tmpfs rw 0 0\n"
        "tmpfs /sys/fs/cgroup tmpfs rw 0 0\n"
        "cgroup2 /sys/fs/cgroup/unified cgroup2 rw 0 0\n"
        "/dev/sdb1 /mnt/usb\\040stick vfat rw 0 0\n"
        "/dev/sdc1 /srv/tftp xfs rw 0 0\n"
        "/dev/sdc1 /srv/tftp xfs rw 0 0\n"
        "/dev/vda /etc/hosts ext4 rw 0 0\n"
        "mqueue /srv/mq mqueue rw 0 0\n"
        "garbage\n";
    const std::vector<std::string> drives = folders::DrivesFromMounts(
        mounts, [](const std::string& mountPoint) { return mountPoint != "/etc/hosts"; });
    EXPECT_EQ(drives, (std::vector<std::string>{"/", "/mnt/usb stick/", "/srv/tftp/", "/tmp/"}));
    EXPECT_EQ(folders::DriveOf("/srv/tftp/boot/", drives), 2);
    EXPECT_EQ(folders::DriveOf("/srv/other/", drives), 0);
    EXPECT_EQ(folders::DriveOf("boot/", drives), -1);
    EXPECT_EQ(folders::DriveOf("", drives), -1);
}

TEST(FolderDrives, ThisMachineOffersTheRootAndNoKernelFileSystems) {
    const std::vector<std::string> drives = folders::SystemDrives();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives.front(), "/");
    EXPECT_TRUE(std::is_sorted(drives.begin(), drives.end()));
    for (const std::string& d : drives) {
        EXPECT_EQ(d.back(), '/');
        EXPECT_NE(d.rfind("/proc/", 0), 0u) << d;
        EXPECT_NE(d.rfind("/sys/", 0), 0u) << d;
        EXPECT_NE(d.rfind("/dev/", 0), 0u) << d;
    }
    CFolderBrowser browser("/", nullptr);
    EXPECT_EQ(Drives(browser)->count(), static_cast<int>(drives.size()));
    EXPECT_EQ(Drives(browser)->currentText(), "/");
}
