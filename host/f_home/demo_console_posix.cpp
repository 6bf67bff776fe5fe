#include "f_home/demo_console.h"

#include <cstdlib>

#include "simulated_console.h"

struct DemoConsole::Impl {
    std::unique_ptr<tsr::sim::SimulatedConsole> console;
};

DemoConsole::DemoConsole(const std::filesystem::path& portsFolder, const tsr::sim::ConsoleConfig& config,
                         std::function<void(const std::string&)> trace)
    : impl_(std::make_unique<Impl>()) {
    tsr::sim::SimOptions sim;
    sim.console = config;
    sim.linkFolder = portsFolder.string();
    sim.port = 1;
    sim.trace = std::move(trace);
    impl_->console = std::make_unique<tsr::sim::SimulatedConsole>(std::move(sim));
    // The library turns COM n into $TESSARO_SERIAL_DIR/COM<n>: COM1 is the console.
    ::setenv("TESSARO_SERIAL_DIR", portsFolder.c_str(), 1);
}

DemoConsole::~DemoConsole() = default;

tsr::sim::UnitState DemoConsole::Unit(int unit) const {
    return impl_->console->Unit(unit);
}

void DemoConsole::SetUnit(int unit, const tsr::sim::UnitState& state) {
    impl_->console->SetUnit(unit, state);
}

void DemoConsole::AddFault(int target, const tsr::sim::Fault& fault, int times) {
    impl_->console->AddFault(target, fault, times);
}

std::string DemoConsole::DevicePath() const {
    return impl_->console->DevicePath();
}
