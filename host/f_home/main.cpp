// The Tessaro host: serves the operator's page and binds it to the library.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/host_object.h"
#include "app/host_paths.h"
#include "f_home/chromium_window.h"
#include "f_home/demo_press.h"
#include "f_home/form_home.h"
#include "f_home/program_services.h"
#include "f_home/single_instance.h"
#include "f_home/web_bridge.h"
#include "sim_options.h"

namespace {

struct CommandLine {
    bool noBrowser = false;
    int port = 0;
    std::optional<std::filesystem::path> storage;
    std::optional<std::filesystem::path> pageFolder;
    bool simulate = false;
    std::optional<std::filesystem::path> demo;
    int movementMs = 2000;
    std::vector<std::string> faults; // the simulated console's fault options and their values
    bool version = false;
};

const char* const kUsage =
    "usage: tessaro [--no-browser] [--port N] [--storage DIR] [--page-folder DIR]\n"
    "               [--simulate [--demo DIR] [--movement-ms N] [FAULT]...]\n"
    "       tessaro --version\n"
    "  --no-browser      print the page address instead of opening the window\n"
    "  --port N          serve the page on 127.0.0.1 port N (default: any free port)\n"
    "  --storage DIR     keep the host's files in DIR\n"
    "  --page-folder DIR serve the page and its locales from DIR instead of htmlapp beside the program\n"
    "  --simulate        run against a simulated press console on a pseudo-terminal, with a demo\n"
    "                    folder for storage, exchange folders and logs (never the real ones)\n"
    "  --demo DIR        the demo folder (default: demo beside the program)\n"
    "  --movement-ms N   time a simulated unit takes to reach a position (default 2000)\n"
    "  faults of the simulated console, to train an operator:\n"
    "  --silent-unit N   unit N never answers (may be given more than once)\n"
    "  --late-unit N:MS  every answer of unit N comes MS milliseconds late\n"
    "  --bad-checksum-every N  every N-th reply goes out with a wrong last byte\n";

bool Number(const char* text, long low, long high, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

// Returns nothing after printing why the arguments are wrong.
std::optional<CommandLine> Parse(int argc, char** argv, bool& help) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-browser") {
            line.noBrowser = true;
        } else if (arg == "--port" && i + 1 < argc) {
            if (!Number(argv[++i], 0, 65535, line.port)) {
                std::cerr << "tessaro: bad port " << argv[i] << "\n";
                return std::nullopt;
            }
        } else if (arg == "--storage" && i + 1 < argc) {
            line.storage = std::filesystem::absolute(PathFromText(argv[++i]));
        } else if (arg == "--page-folder" && i + 1 < argc) {
            line.pageFolder = std::filesystem::absolute(PathFromText(argv[++i]));
        } else if (arg == "--simulate") {
            line.simulate = true;
        } else if (arg == "--demo" && i + 1 < argc) {
            line.demo = std::filesystem::absolute(PathFromText(argv[++i]));
        } else if (arg == "--movement-ms" && i + 1 < argc) {
            if (!Number(argv[++i], 0, 600000, line.movementMs)) {
                std::cerr << "tessaro: bad time " << argv[i] << "\n";
                return std::nullopt;
            }
        } else if (tsr::sim::IsFaultOption(arg) && i + 1 < argc) {
            line.faults.push_back(arg); // read with the press's unit count, when it is set up
            line.faults.push_back(argv[++i]);
        } else if (arg == "--help" || arg == "-h") {
            help = true;
            return line;
        } else if (arg == "--version") {
            line.version = true;
            return line;
        } else {
            std::cerr << "tessaro: unknown argument " << arg << "\n" << kUsage;
            return std::nullopt;
        }
    }
    if ((line.demo || line.movementMs != 2000 || !line.faults.empty()) && !line.simulate) {
        std::cerr << "tessaro: --demo, --movement-ms and the console's faults go with --simulate\n" << kUsage;
        return std::nullopt;
    }
    return line;
}

// demo beside the program; an installed program (bin/ not writable) keeps it
// in the user's application-data folder, apart from the real storage folder.
std::filesystem::path DefaultDemoFolder(const std::filesystem::path& programFolder) {
    if (CanWriteIn(programFolder))
        return programFolder / "demo";
    if (const auto data = ApplicationDataFolder())
        return *data / (std::string(kApplicationTitle) + " demo");
    return programFolder / "demo";
}

} // namespace

int main(int argc, char** argv) {
    ConnectStandardStreams();
    bool help = false;
    std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const auto line = Parse(static_cast<int>(arguments.size()), pointers.data(), help);
    if (!line)
        return 2;
    if (help) {
        std::cout << kUsage;
        return 0;
    }
    if (line->version) {
        std::cout << "tessaro " << TSR_VERSION_TEXT << "\n";
        return 0;
    }

    const auto programFile = ProgramFile();
    SingleInstance instance(SingleInstance::Identity(programFile));
    const SingleInstance::Outcome held = instance.Acquire([] {
        std::cerr << "tessaro: the running Tessaro Control is ending (its press tasks are finishing); "
                     "this start waits for it, then opens"
                  << std::endl;
    });
    if (held.kind == SingleInstance::Outcome::Failed) {
        TellOperator(held.text);
        return 1;
    }
    if (held.kind == SingleInstance::Outcome::Answered) {
        // The running instance brought its window to the front, or has none
        // and gave an address of its page for one more browser.
        std::cout << "Tessaro Control is already running" << held.text << std::endl;
        return 0;
    }

    StopRequests::PrepareAllThreads();
    HostPaths paths{programFile.parent_path(), line->storage, line->pageFolder};

    std::unique_ptr<DemoPress> demo;
    if (line->simulate) {
        try {
            demo = std::make_unique<DemoPress>(
                DemoPress::Options{line->demo.value_or(DefaultDemoFolder(paths.programFolder)),
                                   ShippedFolder(paths.programFolder, "samples"), line->movementMs,
                                   line->faults});
        } catch (const std::exception& e) {
            TellOperator(std::string("no simulated press: ") + e.what());
            return 1;
        }
        if (!paths.storageOverride)
            paths.storageOverride = demo->StorageFolder();
    }

    UiLoop ui;
    WebBridge bridge(
        ui, {PageFolder(paths), line->port, "host", HostObject::Operations(), HostObject::Properties()});
    std::string error;
    if (!bridge.Start(error)) {
        TellOperator(error);
        return 1;
    }

    std::unique_ptr<ChromiumWindow> window;
    if (!line->noBrowser && ChromiumWindow::DisplayAvailable()) {
        if (auto browser = ChromiumWindow::FindBrowser()) {
            // One profile per program identity: copies in other folders keep their own browsers.
            const auto storage = StorageFolder(paths).value_or(paths.programFolder);
            window =
                std::make_unique<ChromiumWindow>(*browser, storage / ("Browser-" + instance.IdentityHash()));
        }
    }

    // Without a window the page's address is all there is: a start that nobody
    // can read it from would run unseen.
    if (!window && !line->noBrowser && !StandardOutputSeen()) {
        TellOperator("no browser was found for the console's window: install Microsoft Edge or Google Chrome, or "
                     "name one in TSR_BROWSER");
        return 1;
    }
    if (demo)
        std::cerr << demo->Describe(); // standard output's first line is the page address
    TformHome form(ui, bridge, paths, window.get());
    bridge.SetEvents(&form);
    const bool hasWindow = window != nullptr;
    instance.Listen([&ui, &form, &bridge, &instance, hasWindow]() -> std::string {
        if (ui.HasQuit()) {
            // The window is closed and this instance is on its way out: the later
            // start waits for it rather than being told of a window that is gone.
            instance.SetEnding();
            return std::string();
        }
        if (!hasWindow)
            return ": " + bridge.NewPageAddress();
        std::string why;
        if (!form.BringToFront(why))
            return "; its window could not be brought to the front (" + why + ").";
        return "; its window is brought to the front.";
    });
    StopRequests stopRequests(ui);
    ui.Post([&form] { form.FormShow(); });
    ui.Run();

    // A start from now on waits until this instance has ended.
    instance.SetEnding();
    bridge.SetEvents(nullptr);
    form.FormClose();
    if (window)
        window->Close();
    bridge.Stop();
    demo.reset(); // the library has let go of the port
    instance.StopListening();
    return 0;
}
