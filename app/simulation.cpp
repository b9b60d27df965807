#include "app/simulation.h"

#include <cstdio>
#include <cstdlib>

#include "app/sim_operator.h"
#include "sim/registry.h"
#include "upload/firmware_package.h"

const char* const SIMULATION_USAGE =
    "  --sim-speed=N          the simulated instrument and every clock of the program run N\n"
    "                         times faster than real time\n"
    "  --sim-operator=auto    the simulated operator does every physical step and every click,\n"
    "                         answers boxes with OK, picks the newest saved InfoA file and closes\n"
    "                         the wizard a few seconds after the upload has finished (default)\n"
    "  --sim-operator=hands   the simulated operator does only the physical steps (cable, On\n"
    "                         switch, battery, power cycling); a person clicks\n";

sim::OptionParse parseSimulationOption(const std::string& arg, SimulationOptions& options, std::string& error) {
    std::string value;
    switch (sim::takeValue(arg, "--sim-speed", value, error)) {
        case sim::OptionValue::Malformed: return sim::OptionParse::Malformed;
        case sim::OptionValue::Taken: {
            char* end = nullptr;
            double speed = value.empty() ? 0 : std::strtod(value.c_str(), &end);
            if (value.empty() || *end || !(speed > 0 && speed <= MAX_SPEED)) {
                error = "--sim-speed wants a factor above 0 and up to " + std::to_string(int(MAX_SPEED)) + ", such as 10";
                return sim::OptionParse::Malformed;
            }
            options.speed = speed;
            return sim::OptionParse::Taken;
        }
        case sim::OptionValue::NotThis: break;
    }
    switch (sim::takeValue(arg, "--sim-operator", value, error)) {
        case sim::OptionValue::Malformed: return sim::OptionParse::Malformed;
        case sim::OptionValue::Taken:
            if (value != "auto" && value != "hands") {
                error = "--sim-operator wants auto or hands";
                return sim::OptionParse::Malformed;
            }
            options.op = value == "auto" ? OperatorMode::Auto : OperatorMode::Hands;
            return sim::OptionParse::Taken;
        case sim::OptionValue::NotThis: break;
    }
    return sim::parseOption(arg, options.instrument, error);
}

Simulation::Simulation(const SimulationOptions& options) : options_(options) {}

std::unique_ptr<Simulation> Simulation::create(const SimulationOptions& options, std::string& error) {
    sim::InstrumentConfig config;
    config.realLineTiming = true;
    config.attached = false;  // the operator plugs the cable in when a page asks for it
    MemoryImage image = embeddedFirmwareImage();
    if (image.bytes.size() >= 32) {
        config.firmwareImage = {sim::Section{image.address, image.bytes}};
        // An earlier release of the model runs: the same vectors (so the model key opens the
        // loader and the application answers its On switch) and, as every release, 0x0000 at
        // 0xFFDE (else the blank key the first reading tries would erase all flash, InfoA
        // included), but not yet this image.
        config.flash = {sim::Section{sim::PASSWORD_ADDRESS - 2, {image.bytes.end() - 34, image.bytes.end()}}};
    }
    std::unique_ptr<Simulation> s(new Simulation(options));
    // The instrument keeps its time on the active clock, so the faster one must come first.
    if (options.speed > 0) {
        s->clock_ = std::make_unique<platform::ScaledClock>(options.speed);
        s->previousClock_ = platform::setActiveClock(s->clock_.get());
    }
    s->instrument_ = sim::makeInstrument(options.instrument, config, error);
    if (!s->instrument_) return nullptr;
    s->bus_.add(*s->instrument_);
    s->previousOpener_ = platform::setSerialOpener(sim::makeOpener(s->bus_));
    s->previousRegistry_ = platform::setRegistry(sim::makeRegistry(s->bus_));
    return s;
}

bool Simulation::save(std::string& error) {
    operator_.reset();
    return sim::saveInstrument(options_.instrument, *instrument_, error);
}

Simulation::~Simulation() {
    operator_.reset();
    if (vendorAttached_) vendor::installBackend(nullptr);
    platform::setSerialOpener(std::move(previousOpener_));
    platform::setRegistry(std::move(previousRegistry_));
    if (clock_) platform::setActiveClock(previousClock_);
}

bool Simulation::attachVendor() {
    vendorAttached_ = vendor::installBackend(bridges_.backend());
    return vendorAttached_;
}

void Simulation::startOperator(CMasterDlg& wizard) {
    operator_ = std::make_unique<SimulatedOperator>(*instrument_, wizard, options_.op == OperatorMode::Auto);
}
