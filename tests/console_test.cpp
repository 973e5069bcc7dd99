#include "console/console.h"
#include "console/progress.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using testing_support::ReadFile;
using testing_support::TempFolder;

namespace {

// A channel into a file, as when standard output is redirected, or posing as a terminal.
struct CapturedConsole {
    TempFolder folder;
    console::Console channel;

    explicit CapturedConsole(bool isTerminal) {
        channel = console::OpenChannel(testing_support::CreateForWriting(folder.Path() / "out"));
        channel.IsTerminal = isTerminal;
        channel.Capacity = isTerminal ? console::TerminalCapacity : console::RedirectedCapacity;
    }
    ~CapturedConsole() { platform::Close(channel.Out); }
    std::string Shown() { return ReadFile(folder.Path() / "out"); }
};

} // namespace

TEST(Console, WritesTextAndLineEndsByteForByte) {
    CapturedConsole captured(false);
    console::Console& channel = captured.channel;
    console::Write(channel, "done\r\n");
    console::WriteLine(channel);
    console::Write(channel, "0 65535");
    console::WriteChar(channel, ' ');
    console::WriteLine(channel, "131070!");
    console::Write(channel, std::string("a\0\xff", 3));
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), std::string("done\r\n\r\n0 65535 131070!\r\na\0\xff", 28));
}

TEST(Console, RedirectedOutputLeavesInBlocksOfTheBufferSize) {
    CapturedConsole captured(false);
    console::Console& channel = captured.channel;
    console::Write(channel, "pending...");
    console::ShowOnTerminal(channel);
    EXPECT_EQ(captured.Shown(), "") << "into a file or a pipe nothing leaves before its time";
    const std::string more(5000, 'x');
    console::Write(channel, more);
    EXPECT_EQ(captured.Shown().size(), console::RedirectedCapacity);
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), "pending..." + more);
}

TEST(Console, NamesReachATerminalWithoutControlBytes) {
    const std::string name = std::string("a\x01") + "b\x1b[2J\x7f\xc3\xa4z";
    CapturedConsole terminal(true);
    EXPECT_EQ(console::Shown(terminal.channel, name), "a?b?[2J?\xc3\xa4z");
    // The C1 controls, raw and in UTF-8; UTF-8 characters whose later bytes lie in 0x80 to 0x9F
    // (Cyrillic, Czech) and Latin-1 letters stay.
    const std::pair<std::string, std::string> cases[] = {
        {"\x9b"
         "2J",
         "?2J"},
        {"\xc2\x9b"
         "2J",
         "?2J"},
        {"\xc2\x9d"
         "0;x\xc2\x9c",
         "?0;x?"},
        {"\xc2\x85\xc2\xa0", "?\xc2\xa0"},
        {"\xd0\xa0\xd1\x80\xc4\x9b", "\xd0\xa0\xd1\x80\xc4\x9b"},
        {"caf\xe9 \x80\xff", "caf\xe9 ?\xff"},
        {"\xe0\x80\x9b", "\xe0??"},
    };
    for (const auto& [stored, shown] : cases) {
        EXPECT_EQ(console::Shown(terminal.channel, stored), shown) << stored;
    }
    CapturedConsole file(false);
    EXPECT_EQ(console::Shown(file.channel, name), name) << "a file gets the bytes as stored";
}

TEST(Progress, RedirectedItemsRunTogetherWithoutControlBytes) {
    CapturedConsole captured(false);
    console::Console& channel = captured.channel;
    console::ProgressLine progress(channel);
    console::WriteLine(channel, "Phase...");
    progress.Start();
    progress.Show("  [1/2] first   ");
    progress.Show("  [2/2] second  ");
    progress.Finish();
    console::Write(channel, "\r\n");
    console::WriteLine(channel);
    console::WriteOutEverything(channel);
    EXPECT_EQ(captured.Shown(), "Phase...\r\n  [1/2] first     [2/2] second  \r\n\r\n");
}

TEST(Progress, OnATerminalEachItemReturnsToTheStartOfTheLine) {
    CapturedConsole captured(true);
    console::Console& channel = captured.channel;
    console::ProgressLine progress(channel);
    progress.RedrawInterval = std::chrono::steady_clock::duration::zero();
    console::Write(channel, "Read Tags Table...");
    console::ShowOnTerminal(channel);
    EXPECT_EQ(captured.Shown(), "Read Tags Table...") << "a terminal sees pending text at once";
    console::WriteLine(channel, "done");
    progress.Start();
    progress.Show("  [1/2] a long first item");
    progress.Show("  [2/2] b");
    console::WriteLine(channel);
    EXPECT_EQ(captured.Shown(),
              "Read Tags Table...done\r\n  [1/2] a long first item\r\x1b[K  [2/2] b\r\n");
}

// An item that comes too soon after the last one drawn is held back and replaced unseen; the old
// item is cleared only by the drawing of a new one, so the line is never left blank.
TEST(Progress, ItemsFasterThanTheRedrawIntervalAreDroppedButTheLastIsShown) {
    CapturedConsole captured(true);
    console::Console& channel = captured.channel;
    console::ProgressLine progress(channel);
    progress.RedrawInterval = std::chrono::hours(1);
    progress.Start();
    progress.Show("one");
    progress.Show("two");
    progress.Show("three");
    EXPECT_EQ(captured.Shown(), "one") << "two came too soon and three is still held back";
    progress.Finish();
    EXPECT_EQ(captured.Shown(), "one\r\x1b[Kthree");
    EXPECT_TRUE(console::LineOpen(channel));
}

TEST(Progress, UTF8ContinuationBytesTakeNoColumn) {
    EXPECT_EQ(console::Columns("plain"), 5u);
    EXPECT_EQ(console::Columns("Ma\xC3\x9F"
                               "st\xC3\xA4"
                               "be"),
              8u);                                                   // "Maßstäbe"
    EXPECT_EQ(console::Columns("\xE6\xB5\xB7\xF0\x9F\x8E\xB5"), 2u); // three and four bytes
}
