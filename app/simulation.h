#pragma once
// The switch SIMULATE: the simulated instrument, its CP210x bridge and its registry entries behind
// every platform seam, and a simulated operator who plays the person in front of the wizard.
#include <memory>
#include <string>

#include "platform/os/clock.h"
#include "platform/os/registry.h"
#include "platform/os/serial.h"
#include "sim/options.h"
#include "vendor/sim_bridges.h"

class CMasterDlg;
class SimulatedOperator;

enum class OperatorMode {
    Auto,   // every physical step and every click
    Hands,  // only the physical steps; a person clicks
};

// The fastest --sim-speed allowed: uploads end with the tick at it while another job keeps both
// cores of a two-core machine busy (bench/simulated_speeds.sh).
constexpr double MAX_SPEED = 1000;

struct SimulationOptions {
    sim::Options instrument;  // --sim-state, --sim-infoa, --sim-bsl-version, --sim-fault
    double speed = 0;         // --sim-speed=N: every clock N times faster; 0: not given
    OperatorMode op = OperatorMode::Auto;  // --sim-operator=auto|hands
};

// One "--sim-..." argument of the wizard's command line.
sim::OptionParse parseSimulationOption(const std::string& arg, SimulationOptions& options, std::string& error);

extern const char* const SIMULATION_USAGE;

class Simulation {
public:
    // Null, with `error`, when the options name an instrument that cannot be made.
    static std::unique_ptr<Simulation> create(const SimulationOptions& options, std::string& error);
    // Restores every seam; the instrument is not saved.
    ~Simulation();
    // Stops the operator and saves the instrument to its state file, if one was named.
    bool save(std::string& error);
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // Hands the vendor library now in g_pVendorModule the simulated bus; false when it cannot
    // take it (a genuine vendor library has no way to).
    bool attachVendor();
    // The operator starts watching the wizard; it stops when the simulation ends.
    void startOperator(CMasterDlg& wizard);

    sim::Instrument& instrument() { return *instrument_; }
    sim::UsbBus& bus() { return bus_; }
    SimulatedOperator* simulatedOperator() { return operator_.get(); }

private:
    explicit Simulation(const SimulationOptions& options);

    SimulationOptions options_;
    std::unique_ptr<sim::Instrument> instrument_;
    sim::UsbBus bus_;
    vendor::SimulatedBridges bridges_{bus_};
    bool vendorAttached_ = false;
    platform::SerialOpener previousOpener_;
    std::shared_ptr<platform::Registry> previousRegistry_;
    std::unique_ptr<platform::ScaledClock> clock_;
    platform::Clock* previousClock_ = nullptr;
    std::unique_ptr<SimulatedOperator> operator_;
};
