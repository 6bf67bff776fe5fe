#include "f_home/demo_console.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "pipe_console.h"

struct DemoConsole::Impl {
    std::unique_ptr<tsr::sim::PipeConsole> console;
};

DemoConsole::DemoConsole(const std::filesystem::path& portsFolder, const tsr::sim::ConsoleConfig& config,
                         std::function<void(const std::string&)> trace)
    : impl_(std::make_unique<Impl>()) {
    (void)portsFolder; // a pipe has no place in the file system
    // The process id keeps two demo presses (of two users, or two copies) apart.
    const std::string prefix = "\\\\.\\pipe\\tessaro-demo-" + std::to_string(::GetCurrentProcessId());
    impl_->console = std::make_unique<tsr::sim::PipeConsole>(prefix, 1, config);
    if (!impl_->console->ok())
        throw std::runtime_error(impl_->console->PipeName() + " cannot be made");
    impl_->console->SetTrace(std::move(trace));
    // The library turns COM n into the pipe $TESSARO_SERIAL_DIR\COM<n>: COM1 is the console.
    ::_putenv_s("TESSARO_SERIAL_DIR", prefix.c_str());
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
    return impl_->console->PipeName();
}
