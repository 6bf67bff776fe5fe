#pragma once
#include <string>

namespace tsr::sim {

// A pseudo-terminal pair in raw mode. The console works the master side;
// the library opens the slave device by its path. The pair keeps a slave
// descriptor of its own, so the master does not see a hang-up each time the
// library closes the port.
class PtyPair {
public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Creates a new pair; false with the system's message on failure.
    bool Create(std::string& error);
    // Closes both sides: a library that holds the slave sees a hang-up.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace tsr::sim
