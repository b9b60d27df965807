// Text forms: TI-TXT sections, fault lists and the saved instrument.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/os/files.h"
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
        else if (item.substr(0, 10) == "cut-flash=") {
            std::string_view value = item.substr(10);
            size_t at = value.find('@');
            uint64_t operation = 0, permille = 0;
            if (at == std::string_view::npos || !parseNumber(value.substr(0, at), operation) || operation == 0 ||
                operation > 0xFFFFFFFF || !parseNumber(value.substr(at + 1), permille) || permille > 999)
                return fail();
            result.powerCutInFlash = Faults::PowerCut{uint32_t(operation), uint32_t(permille)};
        } else if (item.substr(0, 13) == "unplug-at-ms=") {
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
            char hex[16];
            snprintf(hex, sizeof hex, "/0x%02X", f.command);
            s += hex;
        }
        if (f.repeat) s += "+";
        items.push_back(s);
    }
    if (faults.unplugAtUs) items.push_back("unplug-at-ms=" + std::to_string(*faults.unplugAtUs / 1000));
    if (const auto& cut = faults.powerCutInFlash)
        items.push_back("cut-flash=" + std::to_string(cut->operation) + "@" + std::to_string(cut->permille));
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
        << "frame-gap-ms " << c.config.frameGapMs << "\n"
        << "programming-mode-text " << escape(c.config.programmingModeText) << "\n"
        << "boot-text " << escape(c.config.bootText) << "\n";
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

namespace {

// The memory part of a state file: TI-TXT as saveStateText writes it, ended by "q". Anything else
// (a value that is not two hex digits, data before an address, an address outside the part, no
// "q") means the file was damaged or cut short.
bool parseMemory(const std::vector<std::string_view>& lines, size_t from, uint32_t flashEnd,
                 std::vector<Section>& sections, std::string& error) {
    uint32_t next = 0;
    for (size_t i = from; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto fail = [&](const char* what) {
            error = "line " + std::to_string(i + 1) + ": " + what;
            return false;
        };
        if (line.empty()) continue;
        if (line == "q") {
            for (size_t j = i + 1; j < lines.size(); ++j)
                if (!trim(lines[j]).empty()) return fail("text after the end of the memory");
            return true;
        }
        if (!line.empty() && line[0] == '@') {
            uint64_t address = 0;
            if (!parseNumber("0x" + std::string(line.substr(1)), address) || address > flashEnd)
                return fail("bad memory address");
            sections.push_back({uint32_t(address), {}});
            next = uint32_t(address);
            continue;
        }
        if (sections.empty()) return fail("memory values before the first address");
        std::vector<std::string_view> values = split(line, ' ');
        if (values.size() > 16) return fail("more than 16 memory values on a line");
        for (std::string_view v : values) {
            uint64_t b = 0;
            if (v.size() != 2 || !parseNumber("0x" + std::string(v), b)) return fail("bad memory value");
            if (next > flashEnd) return fail("memory beyond the end of the part");
            sections.back().bytes.push_back(uint8_t(b));
            ++next;
        }
    }
    error = "the memory does not end with \"q\": the file is cut short";
    return false;
}

}  // namespace

bool Instrument::loadStateText(std::string_view text, std::string* error) {
    std::string reason;
    auto refuse = [&](size_t lineIndex, const std::string& what) {
        if (error) *error = lineIndex ? "line " + std::to_string(lineIndex + 1) + ": " + what : what;
        return false;
    };
    std::vector<std::string_view> lines = split(text, '\n');
    if (lines.empty() || trim(lines[0]) != STATE_MAGIC)
        return refuse(0, "not a state file of the simulated instrument");
    InstrumentConfig cfg;
    bool attached = true, battery = true, switchOn = false;
    int mode = int(Mode::Application);
    FirmwareDigest firmware;
    std::vector<Section> flash;
    bool haveIdentity = false, haveVersion = false, haveMemory = false;
    for (size_t i = 1; i < lines.size() && !haveMemory; ++i) {
        std::string_view line = lines[i];
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (trim(line).empty()) continue;
        size_t space = line.find(' ');
        std::string_view key = line.substr(0, space);
        std::string_view value = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        uint64_t n = 0;
        bool number = parseNumber(value, n);
        bool boolean = number && n <= 1;
        auto bad = [&] { return refuse(i, "bad value for \"" + std::string(key) + "\""); };
        if (key == "memory") {
            if (!parseMemory(lines, i + 1, cfg.flashEnd, flash, reason)) {
                if (error) *error = reason;
                return false;
            }
            haveMemory = true;
        } else if (key == "identity") {
            auto bytes = split(trim(value), ' ');
            if (bytes.size() != IDENTITY_SIZE) return bad();
            for (size_t k = 0; k < IDENTITY_SIZE; ++k) {
                uint64_t b = 0;
                if (!parseNumber(std::string("0x") + std::string(bytes[k]), b) || b > 0xFF) return bad();
                cfg.identity[k] = uint8_t(b);
            }
            haveIdentity = true;
        } else if (key == "bsl-version") {
            if (!number || n > 0xFFFF) return bad();
            cfg.bslVersion = uint16_t(n);
            haveVersion = true;
        } else if (key == "flash-end") {
            if (!number || n < 0xFFFF || n > 0xFFFFF) return bad();
            cfg.flashEnd = uint32_t(n);
        } else if (key == "vid" || key == "pid") {
            if (!number || n > 0xFFFF) return bad();
            (key == "vid" ? cfg.vid : cfg.pid) = uint16_t(n);
        } else if (key == "serial") cfg.bridgeSerial = unescape(value);
        else if (key == "path") cfg.bridgePath = unescape(value);
        else if (key == "com-port") {
            int port = 0;
            auto v = trim(value);
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), port);
            if (ec != std::errc() || end != v.data() + v.size()) return bad();
            cfg.comPort = port;
        } else if (key == "bridge-reset-ms" || key == "boot-delay-ms" || key == "toggle-window-ms" ||
                   key == "frame-gap-ms") {
            if (!number || n > 0xFFFFFFFF) return bad();
            (key == "bridge-reset-ms"    ? cfg.bridgeResetMs
             : key == "boot-delay-ms"    ? cfg.bootDelayMs
             : key == "toggle-window-ms" ? cfg.toggleWindowMs
                                         : cfg.frameGapMs) = uint32_t(n);
        } else if (key == "registry") {
            auto f = split(trim(value), ' ');
            if (f.size() != 3) return bad();
            for (auto v : f)
                if (v != "0" && v != "1") return bad();
            cfg.registryPlainKey = f[0] == "1";
            cfg.registryInterfaceKey = f[1] == "1";
            cfg.registry9x = f[2] == "1";
        } else if (key == "attached" || key == "battery" || key == "switch" || key == "real-line-timing") {
            if (!boolean) return bad();
            (key == "attached" ? attached : key == "battery" ? battery : key == "switch" ? switchOn
                                                                                        : cfg.realLineTiming) = n != 0;
        } else if (key == "mode") {
            if (!number || n > 3) return bad();
            mode = int(n);
        } else if (key == "programming-mode-text") cfg.programmingModeText = unescape(value);
        else if (key == "boot-text") cfg.bootText = unescape(value);
        else if (key == "faults") {
            // Files of earlier builds carried the faults of their run; they belong to that run.
        } else if (key == "firmware") {
            auto parts = split(trim(value), ' ');
            for (size_t k = 0; k + 1 < parts.size(); ++k) {
                size_t colon = parts[k].find(':');
                uint64_t a = 0, l = 0;
                if (colon == std::string_view::npos ||
                    !parseNumber(std::string("0x") + std::string(parts[k].substr(0, colon)), a) ||
                    !parseNumber(std::string("0x") + std::string(parts[k].substr(colon + 1)), l))
                    return bad();
                firmware.ranges.emplace_back(uint32_t(a), uint32_t(l));
            }
            uint64_t hash = 0;
            if (parts.empty() || !parseNumber(std::string("0x") + std::string(parts.back()), hash)) return bad();
            firmware.hash = hash;
        } else {
            return refuse(i, "unknown entry \"" + std::string(key) + "\"");
        }
    }
    if (!haveIdentity || !haveVersion || !haveMemory)
        return refuse(0, "the file is cut short (no identity, loader version or memory)");
    cfg.flash = std::move(flash);
    cfg.attached = attached;
    cfg.batteryConnected = battery;
    cfg.switchOn = switchOn;
    cfg.infoA.assign(INFOA_SIZE, 0xFF);  // the memory image holds InfoA, unless it is blank
    auto fresh = std::make_shared<Core>(cfg);
    fresh->firmware = firmware;
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
    // The faults stay this run's own: they are never part of the saved instrument.
    core_->config.faults = fresh->config.faults;
    core_->setFaults(core_->config.faults);
    return true;
}

bool Instrument::saveState(const std::string& path) const {
    // Written beside and renamed over, so an interrupted save never leaves a cut-short file.
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << saveStateText();
        out.close();
        if (!out) {
            std::remove(partial.c_str());
            return false;
        }
    }
    if (!platform::replaceFile(partial, path)) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

bool Instrument::loadState(const std::string& path, std::string* error) {
    // A device or a FIFO would be read without end, or block.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        if (error) *error = std::filesystem::exists(path, ec) ? "not a regular file" : "cannot be read";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()) || in.bad()) {
        if (error) *error = "cannot be read";
        return false;
    }
    return loadStateText(text.str(), error);
}

}  // namespace sim
