// The Windows file services against a producer in another process: a file
// its writer still holds open is not read, deleted or moved on; folder
// changes wake the watcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "config/temp_folder.h"
#include "exchange/exchange_files.h"
#include "exchange/folder_notifier.h"
#include "exchange/open_for_writing.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/win32_api.h"

namespace tsr {
namespace {

// tessaro-test-writer in a process of its own, holding path open with text in it.
class Producer {
public:
    Producer(const std::string& path, const std::string& text) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr, childOut = nullptr;
        if (!::CreatePipe(&childIn, &toChild_, &inherit, 0) || !::CreatePipe(&fromChild_, &childOut, &inherit, 0))
            return;
        ::SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = childIn;
        start.hStdOutput = childOut;
        start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        std::string command = std::string("\"") + WriterProgram() + "\" \"" + path + "\" \"" + text + "\"";
        PROCESS_INFORMATION process{};
        started_ = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                                    &process) != 0;
        ::CloseHandle(childIn);
        ::CloseHandle(childOut);
        if (!started_)
            return;
        process_ = process.hProcess;
        ::CloseHandle(process.hThread);
        char said[16] = {};
        DWORD n = 0;
        ready_ = ::ReadFile(fromChild_, said, 5, &n, nullptr) && n == 5 && std::string(said, 5) == "ready";
    }
    ~Producer() {
        Finish();
        if (fromChild_)
            ::CloseHandle(fromChild_);
    }
    bool ready() const { return started_ && ready_; }
    // The writer closes the file and ends.
    void Finish() {
        if (toChild_) {
            ::CloseHandle(toChild_);
            toChild_ = nullptr;
        }
        if (process_) {
            ::WaitForSingleObject(process_, INFINITE);
            ::CloseHandle(process_);
            process_ = nullptr;
        }
    }

private:
    static std::string WriterProgram() {
        char self[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string folder(self);
        folder.resize(folder.find_last_of("\\/") + 1);
        return folder + TSR_TEST_WRITER;
    }

    HANDLE toChild_ = nullptr, fromChild_ = nullptr, process_ = nullptr;
    bool started_ = false, ready_ = false;
};

class WindowsFilesTest : public ::testing::Test {
protected:
    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = MakeFileSystem();
    SystemClock clock;
    ActivityLog log{clock, *fs};
    ExchangeFiles files{*fs, clock, log};
};

TEST_F(WindowsFilesTest, RequestStillHeldByItsProducerIsNeitherReadNorDeletedNorMoved) {
    const std::string request = dir / "NewInkKeys.xml";
    std::filesystem::create_directory(dir.Path() / "released");
    Producer producer(request, "<JDF/>");
    ASSERT_TRUE(producer.ready());

    EXPECT_TRUE(HeldOpenForWriting(request));
    EXPECT_EQ(files.ReadWholeFile(request), "");
    EXPECT_FALSE(files.DeleteRequestFile(request));
    EXPECT_FALSE(files.ReleaseRequestFile(request, dir / "released/NewInkKeys.xml"));
    EXPECT_EQ(fs->ReadFile(request), "<JDF/>"); // still there, whole

    producer.Finish();
    EXPECT_FALSE(HeldOpenForWriting(request));
    EXPECT_EQ(files.ReadWholeFile(request), "<JDF/>");
    EXPECT_TRUE(files.ReleaseRequestFile(request, dir / "released/NewInkKeys.xml"));
    EXPECT_EQ(fs->ReadFile(dir / "released/newinkkeys.xml"), "<JDF/>");
    EXPECT_FALSE(fs->Exists(request));
}

TEST_F(WindowsFilesTest, WholeFileWriteReplacesWhatAReaderSharingDeletionHoldsOpen) {
    const std::string key = dir / "InkKeys.xml";
    ASSERT_TRUE(files.WriteWholeFile(key, "a longer first content"));
    HANDLE reader = ::CreateFileA(key.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const bool replaced = files.WriteWholeFile(key, "second");
    ::CloseHandle(reader);
    if (replaced)
        EXPECT_EQ(fs->ReadFile(key), "second");
    else
        EXPECT_EQ(fs->ReadFile(key), "a longer first content"); // never half of either
    EXPECT_TRUE(files.WriteWholeFile(key, "third"));
    EXPECT_EQ(fs->ReadFile(key), "third");
    for (const DirEntry& e : fs->List(dir.Path().string(), "*"))
        EXPECT_EQ(e.name, "InkKeys.xml"); // no temporary file left beside it
}

TEST_F(WindowsFilesTest, ListMatchesLongNamesOnlyAndIgnoresCase) {
    for (const char* name : {"job.xml", "JOB2.XML", "job.xml~", "job.xmlx", "scan.TVF"})
        test::WriteText(dir.Path() / name, "x");
    std::vector<std::string> names;
    for (const DirEntry& e : fs->List(dir.Path().string(), "*.xml"))
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"JOB2.XML", "job.xml"}));
    ASSERT_EQ(fs->List(dir.Path().string(), "*.tvf").size(), 1u);
    EXPECT_GT(fs->List(dir.Path().string(), "*.tvf")[0].lastWrite, 1600000000);
}

TEST_F(WindowsFilesTest, FolderNotifierWakesForAnotherProcessAndForWake) {
    FolderNotifier notifier;
    const std::string folder = dir.Path().generic_string();
    EXPECT_TRUE(notifier.WatchOnly({folder}));
    EXPECT_FALSE(notifier.WatchOnly({folder, folder + "/missing"})); // the caller then polls faster
    {
        Producer producer(dir / "job.xml", "<JDF/>");
        ASSERT_TRUE(producer.ready());
        EXPECT_TRUE(notifier.Wait(10000));
    }
    while (notifier.Wait(0)) { // what the producer's close brought
    }
    std::thread waker([&] { notifier.Wake(); });
    EXPECT_TRUE(notifier.Wait(10000));
    waker.join();
    std::filesystem::remove(dir.Path() / "job.xml");
    EXPECT_TRUE(notifier.Wait(10000));
}

} // namespace
} // namespace tsr
