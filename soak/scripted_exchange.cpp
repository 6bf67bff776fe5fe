#include "scripted_exchange.h"

#include <fstream>
#include <random>
#include <regex>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// The four units' zones of one side, as a preset or corrected-key file.
std::string Profile(std::mt19937& random, const std::string& identity) {
    std::string units;
    for (const char* name : {"Black", "Cyan", "Magenta", "Yellow"}) {
        std::string zones;
        for (int i = 0; i < 24; ++i)
            zones +=
                std::to_string(std::uniform_int_distribution<>(0, 100)(random) / 100.0).substr(0, 4) + " ";
        units += std::string("<InkZoneProfile Separation=\"") + name + "\" ZoneSettingsX=\"" + zones +
                 "\" mr:InkSweep=\"" + std::to_string(std::uniform_int_distribution<>(0, 100)(random)) +
                 "\"/>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<JDF ID=\"n1\" JobID=\"" + identity +
           "\" Type=\"ProcessGroup\" xmlns=\"http://www.CIP4.org/JDFSchema_1_1\" "
           "xmlns:mr=\"http://www.example.com/schema/press-maker\">"
           "<ResourcePool><InkZoneProfile Class=\"Parameter\" ID=\"r1\"><InkZoneProfile "
           "SignatureName=\"SIG1\">"
           "<InkZoneProfile SheetName=\"S1\"><InkZoneProfile Side=\"Front\">" +
           units +
           "</InkZoneProfile></InkZoneProfile></InkZoneProfile></InkZoneProfile></ResourcePool></JDF>\n";
}

std::string RequestText(const std::string& identity) {
    return "<?xml version=\"1.0\"?><JMF SenderID=\"" + identity + "\"/>\n";
}

bool WaitAbsent(const fs::path& path, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (fs::exists(path)) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

int Between(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<>(low, high)(random);
}

} // namespace

ScriptedExchange::ScriptedExchange(Folders folders, unsigned seed, std::shared_mutex& quiet,
                                   std::function<void(const std::string&)> note)
    : folders_(std::move(folders)), seed_(seed), quiet_(quiet), note_(std::move(note)) {}

ScriptedExchange::~ScriptedExchange() {
    Stop();
}

const char* ScriptedExchange::Name(Kind kind) {
    static const char* const names[] = {"job", "keys", "synchronise", "scan"};
    return names[kind];
}

std::vector<std::string> ScriptedExchange::Identities(const std::string& text) {
    static const std::regex identity("soak-(job|keys|synchronise|scan)-[0-9]+");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), identity); it != std::sregex_iterator();
         ++it)
        found.push_back(it->str());
    return found;
}

std::vector<ScriptedExchange::Request> ScriptedExchange::Dropped(Kind kind) const {
    std::lock_guard lock(droppedLock_);
    return dropped_[kind];
}

std::string ScriptedExchange::NextIdentity(Kind kind) {
    std::lock_guard lock(droppedLock_);
    return std::string("soak-") + Name(kind) + "-" + std::to_string(++next_[kind]);
}

void ScriptedExchange::Start() {
    running_ = true;
    threads_.emplace_back([this] { PresetSystem(); });
    threads_.emplace_back([this] { ClosedLoopSystem(); });
}

void ScriptedExchange::Stop() {
    running_ = false;
    for (std::thread& thread : threads_)
        thread.join();
    threads_.clear();
}

bool ScriptedExchange::Sleep(milliseconds time) const {
    const auto end = Clock::now() + time;
    while (running_ && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(milliseconds(50), end - Clock::now()));
    return running_;
}

void ScriptedExchange::Drop(Kind kind, const fs::path& path, const std::string& text, bool inPieces,
                            Clock::time_point* written) {
    std::shared_lock quiet(quiet_);
    // A request left from before (not taken in time) is not overwritten.
    if (!WaitAbsent(path, std::chrono::seconds(60)))
        return;
    if (inPieces) {
        std::ofstream out(path, std::ios::binary);
        const std::size_t half = text.size() / 2;
        out.write(text.data(), static_cast<std::streamsize>(half));
        out.flush();
        std::this_thread::sleep_for(milliseconds(80));
        out.write(text.data() + half, static_cast<std::streamsize>(text.size() - half));
    } else {
        const fs::path temp = path.parent_path() / (".drop-" + path.filename().string());
        std::ofstream(temp, std::ios::binary) << text;
        fs::rename(temp, path);
    }
    if (written)
        *written = Clock::now();
    const std::vector<std::string> identities = Identities(text);
    const std::string identity = identities.empty() ? std::string() : identities.front();
    {
        std::lock_guard lock(droppedLock_);
        dropped_[kind].push_back({identity, text});
    }
    if (note_)
        note_("dropped " + identity + (inPieces ? " (written in pieces)" : ""));
    const bool taken = WaitAbsent(path, std::chrono::seconds(120));
    if (note_)
        note_((taken ? "taken " : "never taken ") + identity);
}

void ScriptedExchange::PresetSystem() {
    std::mt19937 random(seed_ * 7 + 1);
    while (Sleep(milliseconds(Between(random, 8000, 18000)))) {
        // The job's time is when its file is complete: a new start of the page may hold the drop up.
        std::lock_guard lock(jobGuard_);
        Drop(kJob, folders_.preset / "job.xml", Profile(random, NextIdentity(kJob)),
             Between(random, 0, 3) == 0, &lastJob_);
    }
}

// Corrected keys now and then; synchronisation and scans, never within
// kAfterJob of a job. It takes the released scans away as it reads them.
void ScriptedExchange::ClosedLoopSystem() {
    std::mt19937 random(seed_ * 7 + 2);
    while (Sleep(milliseconds(Between(random, 1500, 4000)))) {
        const int what = Between(random, 0, 2);
        if (what == 0) {
            Drop(kKeys, folders_.keysIn / "NewInkKeys.xml", Profile(random, NextIdentity(kKeys)),
                 Between(random, 0, 3) == 0);
            continue;
        }
        for (;;) {
            std::unique_lock lock(jobGuard_);
            if (Clock::now() - lastJob_ >= kAfterJob) {
                if (what == 1)
                    Drop(kSynchronise, folders_.commands / "Synchronize.xml",
                         RequestText(NextIdentity(kSynchronise)), false);
                else
                    Drop(kScan, folders_.scanIn / "Scan.xml", RequestText(NextIdentity(kScan)), false);
                break;
            }
            lock.unlock();
            if (!Sleep(milliseconds(200)))
                break;
        }
        std::error_code ec;
        fs::remove(folders_.scanOut / "Scan.xml", ec);
    }
}
