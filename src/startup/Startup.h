#pragma once

#include <functional>
#include <memory>

class EchoControl;
class LookupControl;
class MainForm;
struct ScanSettings;

namespace Globals {

// The program's start-up: the splash window while the scan settings are read from the
// user's store (or by loadSettings, when given) into their homes, then the main window,
// shown, with the given controls.
std::unique_ptr<MainForm> Main(std::unique_ptr<EchoControl> echo,
                               std::unique_ptr<LookupControl> lookup,
                               const std::function<ScanSettings()> &loadSettings = {});

} // namespace Globals
