#include "sim/instrument.h"

namespace sim {

struct Instrument::Core {
    InstrumentConfig config;
};

Instrument::Instrument(InstrumentConfig config) : core_(std::make_shared<Core>()) { core_->config = std::move(config); }
Instrument::~Instrument() = default;
std::unique_ptr<platform::SerialLine> Instrument::openLine() { return nullptr; }
std::vector<uint8_t> Instrument::read(uint32_t, size_t count) const { return std::vector<uint8_t>(count, 0xFF); }
void Instrument::load(uint32_t, const std::vector<uint8_t>&) {}
bool Instrument::holdsFirmware() const { return false; }
void Instrument::plug() {}
void Instrument::unplug() {}
bool Instrument::plugged() const { return core_->config.attached; }
void Instrument::setSwitch(bool) {}
void Instrument::toggleSwitch() {}
bool Instrument::switchIsOn() const { return false; }
void Instrument::connectPower() {}
void Instrument::disconnectPower() {}
bool Instrument::powered() const { return true; }
void Instrument::runOperator(OperatorScript) {}
void Instrument::stopOperator() {}
bool Instrument::bridgePresent() const { return core_->config.attached; }
std::string Instrument::bridgePath() const { return core_->config.bridgePath; }
std::string Instrument::bridgeSerial() const { return core_->config.bridgeSerial; }
uint16_t Instrument::vid() const { return core_->config.vid; }
uint16_t Instrument::pid() const { return core_->config.pid; }
int Instrument::comPort() const { return core_->config.comPort; }
bool Instrument::resetBridge() { return false; }
std::vector<RegistryEntry> Instrument::registryEntries(int) const { return {}; }
Mode Instrument::mode() const { return Mode::Application; }
bool Instrument::bslUnlocked() const { return false; }
uint32_t Instrument::deviceBaud() const { return 115200; }
std::vector<LineEdge> Instrument::lineEdges() const { return {}; }
void Instrument::clearLineEdges() {}
std::string Instrument::consoleText() const { return {}; }
uint32_t Instrument::framesReceived() const { return 0; }
std::vector<uint8_t> Instrument::commandsReceived() const { return {}; }
void Instrument::setFaults(Faults faults) { core_->config.faults = std::move(faults); }
Faults Instrument::faults() const { return core_->config.faults; }
InstrumentConfig Instrument::config() const { return core_->config; }
std::string Instrument::saveStateText() const { return {}; }
bool Instrument::loadStateText(std::string_view) { return false; }
bool Instrument::saveState(const std::string&) const { return false; }
bool Instrument::loadState(const std::string&) { return false; }
void Instrument::advance() {}
std::optional<uint64_t> Instrument::nextEventUs() const { return std::nullopt; }

void UsbBus::add(Instrument& instrument) { instruments_.push_back(&instrument); }
std::vector<Instrument*> UsbBus::presentBridges() const { return {}; }
std::vector<RegistryEntry> UsbBus::registryEntries() const { return {}; }
std::unique_ptr<platform::SerialLine> UsbBus::open(const std::string&) const { return nullptr; }

platform::SerialOpener makeOpener(Instrument& instrument) {
    return [&instrument](const std::string&) { return instrument.openLine(); };
}
platform::SerialOpener makeOpener(UsbBus& bus) {
    return [&bus](const std::string& path) { return bus.open(path); };
}

std::vector<Section> sectionsFromTiTxt(std::string_view) { return {}; }
bool parseFaults(std::string_view, Faults&, std::string*) { return false; }
std::string formatFaults(const Faults&) { return {}; }

}  // namespace sim
