#include "console/console.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using testing_support::ReadFile;
using testing_support::TempFolder;

namespace {

// A channel into a file, as when standard output is redirected, or posing as a console.
struct CapturedConsole {
    TempFolder folder;
    console::Console channel;

    explicit CapturedConsole(bool isConsole) {
        channel.Out = testing_support::CreateForWriting(folder.Path() / "out");
        channel.IsConsole = isConsole;
    }
    ~CapturedConsole() { platform::Close(channel.Out); }
    std::string Shown() { return ReadFile(folder.Path() / "out"); }
};

void WriteItem(console::Console& channel, const std::string& text) {
    console::ReturnToAnchor(channel);
    console::Write(channel, text);
    console::Flush(channel);
}

} // namespace

TEST(Console, WritesTextNumbersAndLineEndsByteForByte) {
    CapturedConsole captured(false);
    console::Console& channel = captured.channel;
    console::Write(channel, "done\r\n");
    console::WriteLine(channel);
    console::WriteNumber(channel, 0);
    console::WriteChar(channel, ' ');
    console::WriteNumber(channel, 65535);
    console::WriteChar(channel, ' ');
    console::WriteNumber(channel, 131070);
    console::WriteLine(channel, "!");
    console::Write(channel, std::string("a\0\xff", 3));
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), std::string("done\r\n\r\n0 65535 131070!\r\na\0\xff", 28));
}

TEST(Console, RedirectedOutputLeavesInBlocksOfTheBufferSize) {
    CapturedConsole captured(false);
    console::Console& channel = captured.channel;
    console::Write(channel, "pending...");
    console::Flush(channel);
    EXPECT_EQ(captured.Shown(), "") << "a flush passes nothing to a file or a pipe";
    console::Write(channel, std::string(200, 'x'));
    EXPECT_EQ(captured.Shown().size(), 128u);
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), "pending..." + std::string(200, 'x'));
}

TEST(Console, RedirectedProgressItemsRunTogetherWithoutControlBytes) {
    CapturedConsole captured(false);
    console::Console& channel = captured.channel;
    console::WriteLine(channel, "Phase...");
    console::CaptureAnchor(channel);
    WriteItem(channel, "  [1/2] first   ");
    WriteItem(channel, "  [2/2] second  ");
    console::Write(channel, "\r\n");
    console::WriteLine(channel);
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), "Phase...\r\n  [1/2] first     [2/2] second  \r\n\r\n");
}

TEST(Console, OnAConsoleEachItemReturnsToTheStartOfTheLine) {
    CapturedConsole captured(true);
    console::Console& channel = captured.channel;
    channel.Progress.RedrawInterval = std::chrono::steady_clock::duration::zero();
    console::Write(channel, "Read Tags Table...");
    console::Flush(channel);
    EXPECT_EQ(captured.Shown(), "Read Tags Table...") << "a console sees pending text at once";
    console::WriteLine(channel, "done");
    console::CaptureAnchor(channel);
    WriteItem(channel, "  [1/2] a long first item");
    WriteItem(channel, "  [2/2] b");
    console::WriteLine(channel);
    EXPECT_EQ(captured.Shown(),
              "Read Tags Table...done\r\n  [1/2] a long first item\r\x1b[K  [2/2] b\r\n");
}

TEST(Console, ItemsFasterThanTheRedrawIntervalAreDroppedButTheLastIsShown) {
    CapturedConsole captured(true);
    console::Console& channel = captured.channel;
    channel.Progress.RedrawInterval = std::chrono::hours(1);
    console::CaptureAnchor(channel);
    WriteItem(channel, "one");
    WriteItem(channel, "two");
    WriteItem(channel, "three");
    EXPECT_EQ(captured.Shown(), "one\r\x1b[K") << "two came too soon and three is still held back";
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), "one\r\x1b[Kthree");
    EXPECT_TRUE(console::LineOpen(channel));
}

TEST(Console, UTF8ContinuationBytesTakeNoColumn) {
    EXPECT_EQ(console::Columns("plain"), 5u);
    EXPECT_EQ(console::Columns("Ma\xC3\x9F"
                               "st\xC3\xA4"
                               "be"),
              8u);                                                   // "Maßstäbe"
    EXPECT_EQ(console::Columns("\xE6\xB5\xB7\xF0\x9F\x8E\xB5"), 2u); // three and four bytes
}
