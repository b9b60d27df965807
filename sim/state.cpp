// Text forms: TI-TXT sections, fault lists and the saved instrument.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim/core.h"

namespace sim {
namespace {

constexpr std::string_view STATE_MAGIC = "KORAL-SIM-STATE 1";

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool parseNumber(std::string_view s, uint64_t& out) {
    s = trim(s);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc() && end == s.data() + s.size();
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == sep) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    return out;
}

std::string escape(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += char(c);
    }
    return out;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        if (n == 'r') out += '\r';
        else if (n == 'n') out += '\n';
        else if (n == 'x' && i + 2 < s.size()) {
            uint64_t v = 0;
            parseNumber(std::string("0x") + std::string(s.substr(i + 1, 2)), v);
            out += char(v);
            i += 2;
        } else out += n;
    }
    return out;
}

const struct {
    FaultAction action;
    const char* name;
} ACTIONS[] = {{FaultAction::Nak, "nak"},
               {FaultAction::Silence, "silence"},
               {FaultAction::CorruptChecksum, "corrupt"},
               {FaultAction::DropByte, "drop"}};

void writeHex(std::ostream& out, const Memory& memory, uint32_t from, uint32_t to) {
    char buf[16];
    snprintf(buf, sizeof buf, "@%04X\n", from);
    out << buf;
    for (uint32_t a = from; a <= to; ++a) {
        snprintf(buf, sizeof buf, "%02X", memory.get(a));
        out << buf << ((a - from) % 16 == 15 || a == to ? "\n" : " ");
    }
}

}  // namespace

std::vector<Section> sectionsFromTiTxt(std::string_view text) {
    std::vector<Section> out;
    for (std::string_view line : split(text, '\n')) {
        line = trim(line);
        if (line.empty()) continue;
        if (line[0] == 'q' || line[0] == 'Q') break;
        if (line[0] == '@') {
            uint64_t address = 0;
            parseNumber(std::string("0x") + std::string(line.substr(1)), address);
            out.push_back({uint32_t(address), {}});
            continue;
        }
        if (out.empty()) out.push_back({0, {}});
        for (std::string_view value : split(line, ' ')) {
            uint64_t v = 0;
            if (!value.empty() && parseNumber(std::string("0x") + std::string(value), v)) out.back().bytes.push_back(uint8_t(v));
        }
    }
    return out;
}

bool parseFaults(std::string_view text, Faults& faults, std::string* error) {
    Faults result = faults;
    for (std::string_view item : split(text, ',')) {
        item = trim(item);
        if (item.empty()) continue;
        auto fail = [&] {
            if (error) *error = "unknown fault \"" + std::string(item) + "\"";
            return false;
        };
        if (item == "wrong-password-erases") result.wrongPasswordMassErases = true;
        else if (item == "bridge-never-returns") result.bridgeNeverReturns = true;
        else if (item == "blank-infoa") result.blankInfoA = true;
        else if (item.substr(0, 13) == "unplug-at-ms=") {
            uint64_t ms = 0;
            if (!parseNumber(item.substr(13), ms)) return fail();
            result.unplugAtUs = ms * 1000;
        } else {
            size_t eq = item.find('=');
            if (eq == std::string_view::npos) return fail();
            std::string_view name = item.substr(0, eq), value = item.substr(eq + 1);
            WireFault f;
            size_t dash = name.find('-');
            if (dash == std::string_view::npos) return fail();
            std::string_view action = name.substr(0, dash), trigger = name.substr(dash + 1);
            bool found = false;
            for (const auto& a : ACTIONS)
                if (action == a.name) {
                    f.action = a.action;
                    found = true;
                }
            if (!found || (trigger != "frame" && trigger != "byte")) return fail();
            f.trigger = trigger == "frame" ? FaultTrigger::Frame : FaultTrigger::Byte;
            if (!value.empty() && value.back() == '+') {
                f.repeat = true;
                value.remove_suffix(1);
            }
            size_t slash = value.find('/');
            uint64_t index = 0, command = 0;
            if (!parseNumber(value.substr(0, slash), index) || index == 0) return fail();
            f.index = uint32_t(index);
            if (slash != std::string_view::npos) {
                if (f.trigger != FaultTrigger::Frame || !parseNumber(value.substr(slash + 1), command) || command > 0xFF)
                    return fail();
                f.command = int(command);
            }
            result.wire.push_back(f);
        }
    }
    faults = std::move(result);
    return true;
}

std::string formatFaults(const Faults& faults) {
    std::vector<std::string> items;
    for (const WireFault& f : faults.wire) {
        std::string s;
        for (const auto& a : ACTIONS)
            if (a.action == f.action) s = a.name;
        s += f.trigger == FaultTrigger::Frame ? "-frame=" : "-byte=";
        s += std::to_string(f.index);
        if (f.command >= 0) {
            char hex[8];
            snprintf(hex, sizeof hex, "/0x%02X", f.command);
            s += hex;
        }
        if (f.repeat) s += "+";
        items.push_back(s);
    }
    if (faults.unplugAtUs) items.push_back("unplug-at-ms=" + std::to_string(*faults.unplugAtUs / 1000));
    if (faults.wrongPasswordMassErases) items.push_back("wrong-password-erases");
    if (faults.bridgeNeverReturns) items.push_back("bridge-never-returns");
    if (faults.blankInfoA) items.push_back("blank-infoa");
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : ",") + s;
    return out;
}

std::string Instrument::saveStateText() const {
    std::lock_guard lock(core_->mutex);
    Core& c = *core_;
    c.sync();
    std::ostringstream out;
    char buf[64];
    out << STATE_MAGIC << "\n";
    out << "identity";
    for (uint8_t b : c.config.identity) {
        snprintf(buf, sizeof buf, " %02X", b);
        out << buf;
    }
    snprintf(buf, sizeof buf, "\nbsl-version 0x%04X\nflash-end 0x%05X\n", c.config.bslVersion, c.memory.flashEnd());
    out << buf;
    snprintf(buf, sizeof buf, "vid 0x%04X\npid 0x%04X\n", c.config.vid, c.config.pid);
    out << buf;
    out << "serial " << escape(c.config.bridgeSerial) << "\n"
        << "path " << escape(c.config.bridgePath) << "\n"
        << "com-port " << c.config.comPort << "\n"
        << "bridge-reset-ms " << c.config.bridgeResetMs << "\n"
        << "registry " << c.config.registryPlainKey << " " << c.config.registryInterfaceKey << " "
        << c.config.registry9x << "\n"
        << "attached " << c.attached << "\n"
        << "battery " << c.battery << "\n"
        << "switch " << c.switchOn << "\n"
        << "mode " << int(c.mode) << "\n"
        << "real-line-timing " << c.config.realLineTiming << "\n"
        << "boot-delay-ms " << c.config.bootDelayMs << "\n"
        << "toggle-window-ms " << c.config.toggleWindowMs << "\n"
        << "programming-mode-text " << escape(c.config.programmingModeText) << "\n"
        << "boot-text " << escape(c.config.bootText) << "\n"
        << "faults " << formatFaults(c.faults) << "\n";
    out << "firmware";
    for (auto [address, length] : c.firmware.ranges) {
        snprintf(buf, sizeof buf, " %X:%X", address, length);
        out << buf;
    }
    snprintf(buf, sizeof buf, " %016llX\n", (unsigned long long)c.firmware.hash);
    out << buf;
    // RAM whole, flash where it is not erased.
    out << "memory\n";
    writeHex(out, c.memory, RAM_START, RAM_END);
    for (uint32_t a = INFO_START; a <= c.memory.flashEnd();) {
        if (c.memory.get(a) == 0xFF) {
            ++a;
            continue;
        }
        uint32_t end = a;
        for (uint32_t gap = 0; end + gap + 1 <= c.memory.flashEnd() && gap < 16;) {
            if (c.memory.get(end + gap + 1) != 0xFF) {
                end += gap + 1;
                gap = 0;
            } else {
                ++gap;
            }
        }
        writeHex(out, c.memory, a, end);
        a = end + 1;
    }
    out << "q\n";
    return out.str();
}

bool Instrument::loadStateText(std::string_view text) {
    std::vector<std::string_view> lines = split(text, '\n');
    if (lines.empty() || trim(lines[0]) != STATE_MAGIC) return false;
    InstrumentConfig cfg;
    Faults faults;
    bool attached = true, battery = true, switchOn = false;
    int mode = int(Mode::Application);
    FirmwareDigest firmware;
    std::string memoryText;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (trim(line).empty()) continue;
        size_t space = line.find(' ');
        std::string_view key = line.substr(0, space);
        std::string_view value = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        uint64_t n = 0;
        bool number = parseNumber(value, n);
        auto flag = [&] { return number && n != 0; };
        if (key == "memory") {
            for (size_t j = i + 1; j < lines.size(); ++j) (memoryText += lines[j]) += '\n';
            break;
        }
        if (key == "identity") {
            auto bytes = split(trim(value), ' ');
            if (bytes.size() != IDENTITY_SIZE) return false;
            for (size_t k = 0; k < IDENTITY_SIZE; ++k) {
                uint64_t b = 0;
                if (!parseNumber(std::string("0x") + std::string(bytes[k]), b)) return false;
                cfg.identity[k] = uint8_t(b);
            }
        } else if (key == "bsl-version" && number) cfg.bslVersion = uint16_t(n);
        else if (key == "flash-end" && number) cfg.flashEnd = uint32_t(n);
        else if (key == "vid" && number) cfg.vid = uint16_t(n);
        else if (key == "pid" && number) cfg.pid = uint16_t(n);
        else if (key == "serial") cfg.bridgeSerial = unescape(value);
        else if (key == "path") cfg.bridgePath = unescape(value);
        else if (key == "com-port") {
            int port = 0;
            auto v = trim(value);
            if (std::from_chars(v.data(), v.data() + v.size(), port).ec != std::errc()) return false;
            cfg.comPort = port;
        } else if (key == "bridge-reset-ms" && number) cfg.bridgeResetMs = uint32_t(n);
        else if (key == "registry") {
            auto f = split(trim(value), ' ');
            if (f.size() != 3) return false;
            cfg.registryPlainKey = f[0] == "1";
            cfg.registryInterfaceKey = f[1] == "1";
            cfg.registry9x = f[2] == "1";
        } else if (key == "attached") attached = flag();
        else if (key == "battery") battery = flag();
        else if (key == "switch") switchOn = flag();
        else if (key == "mode" && number && n <= 3) mode = int(n);
        else if (key == "real-line-timing") cfg.realLineTiming = flag();
        else if (key == "boot-delay-ms" && number) cfg.bootDelayMs = uint32_t(n);
        else if (key == "toggle-window-ms" && number) cfg.toggleWindowMs = uint32_t(n);
        else if (key == "programming-mode-text") cfg.programmingModeText = unescape(value);
        else if (key == "boot-text") cfg.bootText = unescape(value);
        else if (key == "faults") {
            if (!parseFaults(value, faults)) return false;
        } else if (key == "firmware") {
            auto parts = split(trim(value), ' ');
            for (size_t k = 0; k + 1 < parts.size(); ++k) {
                size_t colon = parts[k].find(':');
                uint64_t a = 0, l = 0;
                if (colon == std::string_view::npos ||
                    !parseNumber(std::string("0x") + std::string(parts[k].substr(0, colon)), a) ||
                    !parseNumber(std::string("0x") + std::string(parts[k].substr(colon + 1)), l))
                    return false;
                firmware.ranges.emplace_back(uint32_t(a), uint32_t(l));
            }
            uint64_t hash = 0;
            if (parts.empty() || !parseNumber(std::string("0x") + std::string(parts.back()), hash)) return false;
            firmware.hash = hash;
        } else {
            return false;
        }
    }
    cfg.flash = sectionsFromTiTxt(memoryText);
    cfg.attached = attached;
    cfg.batteryConnected = battery;
    cfg.switchOn = switchOn;
    cfg.infoA.assign(INFOA_SIZE, 0xFF);  // the memory image holds InfoA, unless it is blank
    auto fresh = std::make_shared<Core>(cfg);
    fresh->firmware = firmware;
    fresh->setFaults(faults);
    if (battery && Mode(mode) == Mode::Bsl) fresh->startLoader();

    std::lock_guard lock(core_->mutex);
    core_->sync();
    core_->killLine();
    std::swap(core_->config, fresh->config);
    std::swap(core_->memory, fresh->memory);
    core_->firmware = fresh->firmware;
    core_->attached = fresh->attached;
    core_->reenumerating = false;
    core_->battery = fresh->battery;
    core_->switchOn = fresh->switchOn;
    core_->mode = fresh->mode;
    core_->deviceFraming = fresh->deviceFraming;
    core_->resetHeld = false;
    core_->unlocked = false;
    core_->offset = 0;
    core_->bootPending = fresh->bootPending;
    core_->events.clear();
    ++core_->session;
    core_->resetLoaderReceiver();
    core_->setFaults(faults);
    return true;
}

bool Instrument::saveState(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << saveStateText();
    return bool(out.flush());
}

bool Instrument::loadState(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    return loadStateText(text.str());
}

}  // namespace sim
