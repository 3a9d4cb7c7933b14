#include "image/hex_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "tests/support/process_state.h"
#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

using test::ProcessStateTest;
using test::ReadWholeFile;
using test::TempDir;

constexpr char kSaveFilter[] = "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||";
constexpr char kWriteFailed[] = "保存文件失败,磁盘空间可能不足或指定的目标文件写保护.";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

class HexWriterTest : public ProcessStateTest {
  protected:
    // Saves start..end into a new file and returns its lines.
    std::vector<std::string> Save(std::uint32_t start, std::uint32_t end) {
        StartAddress = start;
        EndAddress = end;
        window_.QueueFileDialogAnswer(path_);
        SaveImageAsHex();
        EXPECT_EQ(FailureFlag, 0);
        EXPECT_EQ(window_.StatusLine(), "代码文件文件已成功保存在: " + path_);
        const std::string text = ReadWholeFile(path_);
        EXPECT_TRUE(text.ends_with("\r\n"));
        return Lines(text);
    }

    TempDir dir_;
    std::string path_ = dir_.Path("out.hex");
};

using Expected = std::vector<std::string>;

TEST_F(HexWriterTest, RecordsNeverCrossSixteenByteLines) {
    EXPECT_EQ(Save(0x0000, 0x001F), (Expected{":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00",
                                              ":10001000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0"}));
    EXPECT_EQ(Save(0x0005, 0x0014),
              (Expected{":0B000500FFFFFFFFFFFFFFFFFFFFFFFB", ":05001000FFFFFFFFFFF0"}));
    ProgramMemory[0x1234] = 0xAB;
    EXPECT_EQ(Save(0x1234, 0x1234), (Expected{":01123400AB0E"}));
}

TEST_F(HexWriterTest, SegmentRecordsMarkEachRegionAboveTheFirst) {
    EXPECT_EQ(Save(0xFFF8, 0x10007), (Expected{":08FFF800FFFFFFFFFFFFFFFF09", ":020000021000EC",
                                               ":08000000FFFFFFFFFFFFFFFF00"}));
    const std::vector<std::string> lines = Save(0x10000, 0x10001);
    EXPECT_EQ(lines, (Expected{":020000021000EC", ":02000000FFFF00"}));
    ProgramMemory[0xFFFFF] = 0x00;
    const std::vector<std::string> top = Save(0xF2345, 0xFFFFF);
    EXPECT_EQ(top.front(), ":02000002F0000C");
    EXPECT_EQ(top[1], ":0B234500FFFFFFFFFFFFFFFFFFFFFF98");
    EXPECT_EQ(top.back(), ":10FFF000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0010");
    EXPECT_EQ(Save(0x0, 0xFFFF).size(), 0x1000u);  // no segment record below 0x10000
}

TEST_F(HexWriterTest, EveryCellIsWrittenAndNoEndOfFileRecord) {
    ProgramMemory[0x105] = 0x00;
    const std::vector<std::string> lines = Save(0x100, 0x3FF);
    ASSERT_EQ(lines.size(), 48u);  // 768 bytes, blank cells included
    for (const std::string& line : lines) {
        EXPECT_EQ(line.substr(0, 3), ":10");
        EXPECT_EQ(line.substr(7, 2), "00");  // only data records
    }
    EXPECT_EQ(lines[0], ":10010000FFFFFFFFFF00FFFFFFFFFFFFFFFFFFFFFE");
}

TEST_F(HexWriterTest, ProgressShowsEachBlock) {
    Save(0x0080, 0x0200);
    std::vector<std::string> progress;
    for (const std::string& text : window_.StatusHistory()) {
        if (text.starts_with("[双击这里中断操作] 读取编程内存数据并保存到文件, 地址: ")) {
            progress.push_back(text.substr(text.rfind(' ') + 1));
        }
    }
    EXPECT_EQ(progress, (Expected{"00080~000FF", "00100~001FF", "00200~00200"}));
    const auto dialogs = window_.FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].kind, FileDialogKind::Save);
    EXPECT_EQ(dialogs[0].filter, kSaveFilter);
}

TEST_F(HexWriterTest, WriterLeavesImageRangeAndFlagsAlone) {
    CodeLoadedFlag = 1;
    ImageOverwrittenFlag = 1;
    ProgramMemory[0x10] = 0x42;
    Save(0, 0xFF);
    EXPECT_EQ(StartAddress, 0u);
    EXPECT_EQ(EndAddress, 0xFFu);
    EXPECT_EQ(CodeLoadedFlag, 1);
    EXPECT_EQ(ImageOverwrittenFlag, 1);
    EXPECT_EQ(ProgramMemory[0x10], 0x42);
}

TEST_F(HexWriterTest, CancelledDialogWritesNothing) {
    window_.SetStatusLine("before");
    SaveStopRequest = 1;
    SaveImageAsHex();
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(SaveStopRequest, 0);
    EXPECT_EQ(window_.StatusLine(), "before");
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(HexWriterTest, RangeOutsideTheImageIsRefusedBeforeTheDialog) {
    for (const auto& [start, end] : {std::pair{0xFFFFFFFFu, 0xFFFFFFFFu}, {0xFFFF0u, 0x100000u}}) {
        StartAddress = start;
        EndAddress = end;
        SaveImageAsHex();
        EXPECT_EQ(FailureFlag, 1);
        EXPECT_EQ(window_.StatusLine(), kRangeOutsideImageText);
    }
    EXPECT_TRUE(window_.FileDialogs().empty());
}

TEST_F(HexWriterTest, FileThatCannotBeCreatedFails) {
    ASSERT_EQ(::mkfifo(dir_.Path("pipe.hex").c_str(), 0600), 0);  // no reader: not waited for
    for (const char* name : {"no such folder/out.hex", "pipe.hex"}) {
        window_.QueueFileDialogAnswer(dir_.Path(name));
        SaveImageAsHex();
        EXPECT_EQ(FailureFlag, 1);
        EXPECT_EQ(window_.StatusLine(), "保存文件错误!");
    }
}

TEST_F(HexWriterTest, FullDiskIsReported) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    for (const std::uint32_t end : {0x0Fu, 0xFFFFFu}) {  // fails at close, and on the way
        StartAddress = 0;
        EndAddress = end;
        window_.QueueFileDialogAnswer("/dev/full");
        SaveImageAsHex();
        EXPECT_EQ(FailureFlag, 1);
        EXPECT_EQ(window_.StatusLine(), kWriteFailed);
    }
}

// A save that the file size limit cuts off part-way leaves the old file as it was (or no file
// where there was none), and nothing beside it.
TEST_F(HexWriterTest, SaveCutOffPartWayLeavesTheOldFile) {
    const std::string old = ":0100000055AA\r\n";
    for (const bool hadFile : {true, false}) {
        SCOPED_TRACE(hadFile);
        std::filesystem::remove(path_);
        if (hadFile) {
            dir_.Write("out.hex", old);
        }
        StartAddress = 0;
        EndAddress = kImageSize - 1;  // about 3 MB of text against a 64 KiB limit
        window_.QueueFileDialogAnswer(path_);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
            const rlimit limit{64 * 1024, 64 * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            SaveImageAsHex();
            _exit(FailureFlag == 1 && window_.StatusLine() == kWriteFailed ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        if (hadFile) {
            EXPECT_EQ(ReadWholeFile(path_), old);
        } else {
            EXPECT_FALSE(std::filesystem::exists(path_));
        }
        const auto entries = std::distance(std::filesystem::directory_iterator(dir_.Path("")),
                                           std::filesystem::directory_iterator());
        EXPECT_EQ(entries, hadFile ? 1 : 0);
    }
}

// A FIFO is written in blocking mode: a reader that takes its time still gets every byte.
TEST_F(HexWriterTest, SaveIntoAFifoReachesASlowReader) {
    for (std::uint32_t a = 0; a < 0x40000; ++a) {
        ProgramMemory[a] = static_cast<std::uint8_t>(a * 7);
    }
    const std::string fifo = dir_.Path("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The reader is there before the save opens the FIFO, as a shell pipeline's would be.
    const int readFd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readFd, 0);
    ASSERT_EQ(fcntl(readFd, F_SETFL, 0), 0);
    std::string received;
    std::thread reader([&] {
        // Until the save has opened its end the FIFO reads as ended; only an end after data
        // is the end of the save (or, bounded, a save that never came).
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        char chunk[4096];
        for (;;) {
            const ssize_t got = read(readFd, chunk, sizeof chunk);
            if (got > 0) {
                received.append(chunk, static_cast<std::size_t>(got));
            } else if (got < 0 || !received.empty() || std::chrono::steady_clock::now() > giveUp) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    StartAddress = 0;
    EndAddress = 0x3FFFF;
    window_.QueueFileDialogAnswer(fifo);
    SaveImageAsHex();
    reader.join();
    close(readFd);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(window_.StatusLine(), "代码文件文件已成功保存在: " + fifo);

    Save(0, 0x3FFFF);
    EXPECT_GT(received.size(), 700'000u);
    EXPECT_TRUE(received == ReadWholeFile(path_));
}

// Passes everything on to the recording window, and raises the stop request as soon as the
// first block's progress is shown, as a double-click during the save would.
class StopDuringFirstBlock final : public WindowServices {
  public:
    explicit StopDuringFirstBlock(test::RecordingWindowServices& inner) : inner_(inner) {}
    ChoiceState GetChoice(Choice choice) override { return inner_.GetChoice(choice); }
    std::string ReadField(TextField field) override { return inner_.ReadField(field); }
    void WriteField(TextField field, const std::string& text) override {
        inner_.WriteField(field, text);
    }
    void SetStatusLine(const std::string& text) override {
        SaveStopRequest = 1;
        inner_.SetStatusLine(text);
    }
    void RefreshCursor() override { inner_.RefreshCursor(); }
    void LockViewControls(bool locked) override { inner_.LockViewControls(locked); }
    void RestartTick() override { inner_.RestartTick(); }
    MessageAnswer ShowMessageBox(const std::string& caption, const std::string& text,
                                 MessageIcon icon, MessageButtons buttons) override {
        return inner_.ShowMessageBox(caption, text, icon, buttons);
    }
    std::optional<std::string> ShowFileDialog(FileDialogKind kind,
                                              const std::string& filter) override {
        return inner_.ShowFileDialog(kind, filter);
    }
    void ShowMemoryPage(const MemoryPageText& page) override { inner_.ShowMemoryPage(page); }

  private:
    test::RecordingWindowServices& inner_;
};

TEST_F(HexWriterTest, StopTakesEffectAfterOneMoreBlock) {
    StopDuringFirstBlock stopper(window_);
    InstallWindowServices(&stopper);
    StartAddress = 0xFFF0;
    EndAddress = 0x1FFFF;
    window_.QueueFileDialogAnswer(path_);
    SaveImageAsHex();
    InstallWindowServices(&window_);

    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(window_.StatusLine(), "用户已中断操作!");
    const std::vector<std::string> lines = Lines(ReadWholeFile(path_));
    ASSERT_EQ(lines.size(), 1u);  // the first block (0xFFF0..0xFFFF) and nothing more
    EXPECT_EQ(lines[0], ":10FFF000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF11");
}

}  // namespace
}  // namespace koru
