// koral_bench: the simulated instrument below the operating system. umockdev's testbed shows a
// CP210x bridge as the kernel would (sysfs, udev, /dev/ttyUSB0, /dev/bus/usb/001/002); the tty
// node's ioctl/write handler is the instrument's UART behind the bridge, and the USB node's reset
// re-enumerates the bridge. COMMAND runs unmodified under umockdev's preload and ours.
#include <fcntl.h>
#include <glib.h>
#include <linux/serial.h>
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/serial.h"
#include "sim/instrument.h"
#include "sim/options.h"
#include "tools/bench/instrument_setup.h"
#include "tools/bench/line_settings.h"

namespace {

const char* const USAGE =
    "usage: tools/bench.sh [--sim-state=FILE] [--sim-infoa=HEX128] [--sim-operator=auto|hands]\n"
    "                      [--sim-speed=N] -- COMMAND [ARG...]\n"
    "\n"
    "Runs COMMAND with a simulated KORAL VKT behind a CP210x bridge that the system shows as a\n"
    "real one: /dev/ttyUSB0 (KORAL_BENCH_PORT), /dev/bus/usb/001/002, its sysfs and udev entries.\n"
    "The programs need no simulation switch: koralbsl -c$KORAL_BENCH_PORT, koralloader as is.\n"
    "When COMMAND ends the instrument is saved to the state file; the exit status is COMMAND's.\n"
    "\n"
    "  --sim-state=FILE       the instrument's state: loaded when the file exists, saved at the end\n"
    "  --sim-infoa=HEX128     a new instrument's InfoA: 128 hexadecimal digits\n"
    "  --sim-operator=auto    the bench's operator does the physical steps (default): the cable is\n"
    "                         in at the start; when the program first lists the USB bus it does\n"
    "                         what the connect page asks (cable out, switch on, cable in); it\n"
    "                         toggles the On switch when the console is opened at 115200\n"
    "  --pins=FILE            write the instrument's RST and TEST pin changes to FILE at the end\n"
    "  --sim-operator=hands   the cable starts out; the steps are yours\n"
    "  --sim-speed=N          the instrument runs N times faster than the wall clock, its line\n"
    "                         too (a byte takes 1/N of its time); the program's clocks stay real,\n"
    "                         so its time-outs are N times longer as the instrument sees them.\n"
    "                         For long test runs; 1 (the default) is the real line\n"
    "\n"
    "Steps, one a line to the FIFO named by KORAL_BENCH_CONTROL (with either operator): plug,\n"
    "unplug, on, off, toggle, power-on, power-off; connect and power-cycle (what the connect page\n"
    "and the power-cycling page ask, done by the bench's operator); at-frame K STEP (STEP once the\n"
    "loader has taken K more command frames); at-byte N STEP (once the program has written N more\n"
    "bytes); fault TEXT (the instrument's faults, as --sim-fault takes them, e.g. cut-flash=K@P).\n";

constexpr const char* TTY_NODE = "/dev/ttyUSB0";
constexpr const char* USB_NODE = "/dev/bus/usb/001/002";
constexpr const char* DEVICE_PATH = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr const char* INTERFACE_PATH = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0";
constexpr const char* PORT_PATH = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0";
constexpr const char* TTY_PATH = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";

// The descriptors file of the device: a CP2102's device descriptor and its one configuration
// (one vendor-class interface, bulk IN and OUT), as libusb reads them from sysfs.
const uint8_t DESCRIPTORS[] = {
    0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xC4, 0x10, 0x60, 0xEA, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01,
    0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  // configuration
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x02,  // interface 0
    0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00,              // bulk IN
    0x07, 0x05, 0x01, 0x02, 0x40, 0x00, 0x00,              // bulk OUT
};

std::string bridgeText(const std::string& serial, bool withTtyNode) {
    std::string device = std::string("P: ") + (DEVICE_PATH + 4) +
                         "\nN: bus/usb/001/002\nE: DEVNAME=/dev/bus/usb/001/002\nE: DEVTYPE=usb_device\n"
                         "E: DRIVER=usb\nE: PRODUCT=10c4/ea60/100\nE: TYPE=0/0/0\nE: BUSNUM=001\nE: DEVNUM=002\n"
                         "E: MAJOR=189\nE: MINOR=1\nE: SUBSYSTEM=usb\nE: ID_VENDOR_ID=10c4\nE: ID_MODEL_ID=ea60\n"
                         "E: ID_SERIAL_SHORT=" + serial +
                         "\nA: idVendor=10c4\nA: idProduct=ea60\nA: bcdDevice=0100\nA: serial=" + serial +
                         "\nA: manufacturer=Silicon Labs\nA: product=CP2102 USB to UART Bridge Controller\n"
                         "A: busnum=1\nA: devnum=2\nA: speed=12\nA: bDeviceClass=00\nA: bNumConfigurations=1\n"
                         "A: bConfigurationValue=1\nA: bMaxPacketSize0=64\nL: driver=../../../../../bus/usb/drivers/usb\n";
    std::string interface = std::string("\nP: ") + (INTERFACE_PATH + 4) +
                            "\nE: DEVTYPE=usb_interface\nE: DRIVER=cp210x\nE: SUBSYSTEM=usb\n"
                            "E: PRODUCT=10c4/ea60/100\nE: INTERFACE=255/0/0\nA: bInterfaceNumber=00\n"
                            "A: bInterfaceClass=ff\nA: bAlternateSetting= 0\nA: bNumEndpoints=02\n"
                            "L: driver=../../../../../../bus/usb/drivers/cp210x\n";
    std::string port = std::string("\nP: ") + (PORT_PATH + 4) +
                       "\nE: SUBSYSTEM=usb-serial\nE: DRIVER=cp210x\nA: port_number=0\n"
                       "L: driver=../../../../../../../bus/usb-serial/drivers/cp210x\n";
    // libserialport reads the USB ids through the tty's "device" link, which umockdev does not make.
    std::string tty = std::string("\nP: ") + (TTY_PATH + 4) + (withTtyNode ? "\nN: ttyUSB0" : "") +
                      "\nE: DEVNAME=/dev/ttyUSB0\nE: MAJOR=188\nE: MINOR=0\nE: SUBSYSTEM=tty\nL: device=../..\n";
    return device + interface + port + tty;
}

uint64_t nowUs() { return platform::activeClock().nowUs(); }

// Everything the handlers and the supervisor share; one lock.
struct Bench {
    sim::Instrument* instrument = nullptr;
    UMockdevTestbed* testbed = nullptr;
    std::string serial;
    bool autoOperator = true;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;

    // The bridge as the testbed shows it, and the instrument's line behind the tty.
    bool shown = false;
    uint64_t generation = 0;  // bumps when the bridge leaves: descriptors of before are dead
    std::unique_ptr<platform::SerialLine> line;
    int openers = 0;
    bench::Termios termios = bench::initialTermios();
    bool dtr = false, rts = false;
    int ptyMaster = -1;
    std::string ptySlave;

    // A step held back until the loader has taken so many frames or the host written so many bytes.
    struct Armed {
        bool frames = true;
        uint64_t at = 0;
        std::string step;
    };
    std::optional<Armed> armed;
    uint32_t flashCuts = 0;

    // Bytes the instrument sent that reached the host: into the pseudo-terminal, where the
    // program's select() and read() find them. Expects the lock held.
    void pumpLocked() {
        if (!line || ptyMaster < 0) return;
        uint8_t buffer[256];
        uint32_t done = 0;
        while (line->read(buffer, sizeof buffer, done) && done > 0) {
            for (uint32_t off = 0; off < done;) {
                ssize_t n = ::write(ptyMaster, buffer + off, done - off);
                if (n <= 0) break;
                off += uint32_t(n);
            }
        }
    }

    // The line's settings as the termios and modem lines now stand.
    bool applyLocked() {
        if (!line) return false;
        platform::LineState state = bench::lineStateOf(termios);
        state.dtrControl = dtr ? platform::dtr::ENABLE : platform::dtr::DISABLE;
        state.rtsControl = rts ? platform::rts::ENABLE : platform::rts::DISABLE;
        return line->setState(state);
    }

    void openLocked() {
        if (openers++ > 0 && line) return;
        line = instrument->openLine();
        if (!line) return;
        platform::Timeouts immediate{platform::TIMEOUT_MAXDWORD, 0, 0, 0, 0};
        line->setTimeouts(immediate);
        // The tty layer raises both lines on open unless the rate is B0.
        dtr = rts = bench::baudOf(termios) != 0;
        applyLocked();
    }

    void closeLocked() {
        if (openers > 0 && --openers > 0) return;
        // HUPCL: the driver drops both lines on the last close.
        if (line && (termios.c_cflag & HUPCL)) {
            dtr = rts = false;
            applyLocked();
        }
        if (line) line->close();
        line.reset();
    }

    void waitDrainedLocked(std::unique_lock<std::mutex>& lock) {
        for (;;) {
            platform::QueueCounts counts;
            if (!line || !line->queueCounts(counts) || counts.outQueue == 0) return;
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            lock.lock();
        }
    }
};

Bench g_bench;
double g_speed = 1;  // instrument time per wall-clock time

// One of the operator's steps; false for a line that names none.
bool perform(Bench& b, const std::string& step) {
    sim::Instrument& i = *b.instrument;
    if (step == "plug") i.plug();
    else if (step == "unplug") i.unplug();
    else if (step == "on") i.setSwitch(true);
    else if (step == "off") i.setSwitch(false);
    else if (step == "toggle") i.toggleSwitch();
    else if (step == "power-on") i.connectPower();
    else if (step == "power-off") i.disconnectPower();
    else if (step == "connect" || step == "power-cycle") {
        sim::OperatorScript script;
        script.powerCycling = step == "power-cycle";
        script.replugWhenNoticed = true;  // the page must see the bridge leave
        i.runOperator(script);
    } else return false;
    return true;
}

void logStepLocked(Bench& b, const char* step) {
    std::fprintf(stderr, "koral_bench: %s (frames %u, host bytes %llu)\n", step, b.instrument->framesReceived(),
                 static_cast<unsigned long long>(b.instrument->wireBytes().written));
}

// The armed step, once its point has come; a cut the flash fault made. Expects the lock held.
void fireArmedLocked(Bench& b) {
    if (uint32_t cuts = b.instrument->flashCuts(); cuts != b.flashCuts) {
        b.flashCuts = cuts;
        logStepLocked(b, "battery removed in flash work");
    }
    if (!b.armed) return;
    uint64_t count = b.armed->frames ? b.instrument->framesReceived() : b.instrument->wireBytes().written;
    if (count < b.armed->at) return;
    std::string step = b.armed->step;
    b.armed.reset();
    perform(b, step);
    logStepLocked(b, step.c_str());
}

struct Client {
    uint64_t generation;
};

gboolean onTtyIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    Bench& b = g_bench;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto* state = static_cast<Client*>(g_object_get_data(G_OBJECT(client), "bench"));
    std::unique_lock lock(b.mutex);
    if (!state || state->generation != b.generation || !b.shown) {
        // The device went away under an open descriptor: the tty is hung up.
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    auto resolved = [&](size_t size) { return umockdev_ioctl_data_resolve(arg, 0, size, nullptr); };
    auto value = [&] { return *reinterpret_cast<unsigned long*>(arg->data); };
    long result = 0;
    int error = 0;
    b.instrument->advance();
    switch (request) {
    case TCGETS: {
        UMockdevIoctlData* d = resolved(sizeof(bench::Termios));
        std::memcpy(d->data, &b.termios, sizeof(bench::Termios));
        g_object_unref(d);
        break;
    }
    case TCSETS:
    case TCSETSW:
    case TCSETSF: {
        UMockdevIoctlData* d = resolved(sizeof(bench::Termios));
        bench::Termios t;
        std::memcpy(&t, d->data, sizeof t);
        g_object_unref(d);
        if (request != TCSETS) b.waitDrainedLocked(lock);
        if (request == TCSETSF && b.line) {
            b.line->purge(platform::purge::RXCLEAR);
            umockdev_ioctl_client_execute(client, nullptr, nullptr);  // the pty's input queue
        }
        bool wasZero = bench::baudOf(b.termios) == 0;
        b.termios = t;
        // B0 drops both lines; leaving B0 raises them again, as the tty layer does.
        if (bench::baudOf(b.termios) == 0) b.dtr = b.rts = false;
        else if (wasZero) b.dtr = b.rts = true;
        b.applyLocked();
        break;
    }
    case TIOCMGET: {
        UMockdevIoctlData* d = resolved(sizeof(int));
        int bits = (b.dtr ? TIOCM_DTR : 0) | (b.rts ? TIOCM_RTS : 0);
        std::memcpy(d->data, &bits, sizeof bits);
        g_object_unref(d);
        break;
    }
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: {
        UMockdevIoctlData* d = resolved(sizeof(int));
        int bits = 0;
        std::memcpy(&bits, d->data, sizeof bits);
        g_object_unref(d);
        bool dtr = request == TIOCMSET ? (bits & TIOCM_DTR) != 0 : b.dtr;
        bool rts = request == TIOCMSET ? (bits & TIOCM_RTS) != 0 : b.rts;
        if (request == TIOCMBIS) dtr = dtr || (bits & TIOCM_DTR), rts = rts || (bits & TIOCM_RTS);
        if (request == TIOCMBIC) dtr = dtr && !(bits & TIOCM_DTR), rts = rts && !(bits & TIOCM_RTS);
        b.dtr = dtr;
        b.rts = rts;
        b.applyLocked();
        break;
    }
    case TCFLSH: {
        unsigned long queue = value();
        if (queue > TCIOFLUSH) {
            result = -1, error = EINVAL;
            break;
        }
        if (b.line && queue != TCOFLUSH) b.line->purge(platform::purge::RXCLEAR);
        if (b.line && queue != TCIFLUSH) b.line->purge(platform::purge::TXCLEAR);
        if (queue != TCOFLUSH) {
            lock.unlock();
            umockdev_ioctl_client_execute(client, nullptr, nullptr);
            lock.lock();
        }
        break;
    }
    case TCSBRK:
        // Non-zero: tcdrain. Zero: a break, which the bridge sends and the instrument ignores.
        if (value() != 0) b.waitDrainedLocked(lock);
        break;
    case TIOCINQ: {
        b.pumpLocked();
        int err = 0;
        result = umockdev_ioctl_client_execute(client, &err, nullptr);
        error = err;
        umockdev_ioctl_client_complete(client, result, error);
        return TRUE;
    }
    case TIOCOUTQ: {
        platform::QueueCounts counts;
        int n = b.line && b.line->queueCounts(counts) ? int(counts.outQueue) : 0;
        UMockdevIoctlData* d = resolved(sizeof(int));
        std::memcpy(d->data, &n, sizeof n);
        g_object_unref(d);
        break;
    }
    case TIOCEXCL:
    case TIOCNXCL:
        break;
    case bench::BENCH_RELEASE:
        b.closeLocked();
        break;
    case TIOCGSERIAL: {
        UMockdevIoctlData* d = resolved(sizeof(serial_struct));
        serial_struct s{};
        s.type = PORT_16654;  // what usb-serial reports for every port
        s.line = 0;
        s.baud_base = 9600;
        s.close_delay = 50;
        s.closing_wait = 3000;
        std::memcpy(d->data, &s, sizeof s);
        g_object_unref(d);
        break;
    }
    default:
        // The tty layer's answer to a request neither it nor the cp210x driver knows.
        result = -1, error = ENOTTY;
        break;
    }
    b.wake.notify_all();
    lock.unlock();
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

gboolean onTtyWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    Bench& b = g_bench;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto* state = static_cast<Client*>(g_object_get_data(G_OBJECT(client), "bench"));
    std::unique_lock lock(b.mutex);
    if (!state || state->generation != b.generation || !b.shown || !b.line) {
        lock.unlock();
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    uint32_t done = 0;
    b.line->write(arg->data, uint32_t(arg->data_len), done);
    fireArmedLocked(b);
    b.wake.notify_all();
    lock.unlock();
    umockdev_ioctl_client_complete(client, long(done), 0);
    return TRUE;
}

gboolean onTtyRead(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer) {
    return FALSE;  // the pseudo-terminal holds what arrived
}

void onTtyConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    Bench& b = g_bench;
    std::lock_guard lock(b.mutex);
    g_object_set_data_full(G_OBJECT(client), "bench", new Client{b.generation},
                           [](gpointer p) { delete static_cast<Client*>(p); });
    if (b.shown) b.openLocked();
    b.wake.notify_all();
}

gboolean onUsbIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    Bench& b = g_bench;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    long result = 0;
    int error = 0;
    std::unique_lock lock(b.mutex);
    if (!b.shown) {
        result = -1, error = ENODEV;
    } else if (request == USBDEVFS_RESET) {
        // The bridge restarts: it leaves the bus and enumerates again (the supervisor shows it).
        if (!b.instrument->resetBridge()) result = -1, error = ENODEV;
    } else if (request == USBDEVFS_GET_CAPABILITIES) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(d->data, &caps, sizeof caps);
        g_object_unref(d);
    } else {
        result = -1, error = ENOTTY;
    }
    b.wake.notify_all();
    lock.unlock();
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

std::string testbedPath(const std::string& path) {
    const char* root = std::getenv("UMOCKDEV_DIR");
    return std::string(root ? root : "") + path;
}

// Shows the bridge: its devices, their nodes and the "add" uevents, parent first.
void showBridge(Bench& b) {
    static bool first = true;
    GError* error = nullptr;
    if (!first) {
        // The pseudo-terminal behind /dev/ttyUSB0 stays registered with umockdev across a
        // removal; its node goes back by hand, and the text names no node for it.
        std::error_code ec;
        std::filesystem::create_symlink(b.ptySlave, testbedPath(TTY_NODE), ec);
    }
    if (!umockdev_testbed_add_from_string(b.testbed, bridgeText(b.serial, first).c_str(), &error)) {
        std::fprintf(stderr, "koral_bench: cannot add the bridge: %s\n", error->message);
        std::exit(70);
    }
    umockdev_testbed_set_attribute_binary(b.testbed, DEVICE_PATH, "descriptors", const_cast<uint8_t*>(DESCRIPTORS),
                                          int(sizeof DESCRIPTORS));
    if (first) {
        auto attach = [&](const char* node, UMockdevIoctlBase* handler) {
            if (!umockdev_testbed_attach_ioctl(b.testbed, node, handler, &error)) {
                std::fprintf(stderr, "koral_bench: cannot attach to %s: %s\n", node, error->message);
                std::exit(70);
            }
        };
        UMockdevIoctlBase* tty = umockdev_ioctl_base_new();
        g_signal_connect(tty, "handle-ioctl", G_CALLBACK(onTtyIoctl), nullptr);
        g_signal_connect(tty, "handle-write", G_CALLBACK(onTtyWrite), nullptr);
        g_signal_connect(tty, "handle-read", G_CALLBACK(onTtyRead), nullptr);
        g_signal_connect(tty, "client-connected", G_CALLBACK(onTtyConnected), nullptr);
        attach(TTY_NODE, tty);
        UMockdevIoctlBase* usb = umockdev_ioctl_base_new();
        g_signal_connect(usb, "handle-ioctl", G_CALLBACK(onUsbIoctl), nullptr);
        attach(USB_NODE, usb);
        b.ptyMaster = umockdev_testbed_get_dev_fd(b.testbed, TTY_NODE);
        char target[PATH_MAX] = "";
        ssize_t n = readlink(testbedPath(TTY_NODE).c_str(), target, sizeof target - 1);
        b.ptySlave.assign(target, n > 0 ? size_t(n) : 0);
        termios raw;
        if (tcgetattr(b.ptyMaster, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(b.ptyMaster, TCSANOW, &raw);
        }
        first = false;
    }
    for (const char* path : {DEVICE_PATH, INTERFACE_PATH, PORT_PATH, TTY_PATH}) umockdev_testbed_uevent(b.testbed, path, "add");
}

// The bridge leaves: "remove" uevents child first, then the devices; open descriptors die.
void hideBridge(Bench& b) {
    for (const char* path : {TTY_PATH, PORT_PATH, INTERFACE_PATH, DEVICE_PATH}) {
        umockdev_testbed_uevent(b.testbed, path, "remove");
        umockdev_testbed_remove_device(b.testbed, path);
    }
    std::error_code ec;
    std::filesystem::remove(testbedPath(TTY_NODE), ec);
    // A hung-up tty flushes what it held.
    if (b.ptyMaster >= 0) tcflush(b.ptyMaster, TCIOFLUSH);
}

// Keeps the testbed in step with the instrument: its bytes into the pseudo-terminal at the times
// they arrive, the bridge shown while it is present.
void supervise(Bench& b, const std::string& busDirectory) {
    // The program lists the USB bus: the auto operator's cue for the connect page's steps, and
    // what an operator who waits for a removal to be noticed waits for. The testbed deletes the
    // bus directory with the last device (a real one stays, empty): it goes back, watched again.
    int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    auto watchBus = [&] {
        std::error_code ec;
        std::filesystem::create_directories(busDirectory, ec);
        if (inotifyFd >= 0) inotify_add_watch(inotifyFd, busDirectory.c_str(), IN_OPEN);
    };
    watchBus();
    bool cueTaken = !b.autoOperator;
    std::unique_lock lock(b.mutex);
    while (!b.stopping) {
        b.instrument->advance();
        fireArmedLocked(b);
        bool present = b.instrument->bridgePresent(false);
        if (present != b.shown) {
            if (!present) {
                b.shown = false;
                ++b.generation;
                b.line.reset();  // the instrument killed it when the bridge left
                b.openers = 0;
                b.termios = bench::initialTermios();
                hideBridge(b);
                watchBus();
            } else {
                showBridge(b);
                b.shown = true;
            }
        }
        b.pumpLocked();
        alignas(inotify_event) char events[4096];
        ssize_t n = inotifyFd >= 0 ? read(inotifyFd, events, sizeof events) : 0;
        bool listed = false;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + off);
            listed = listed || (e->mask & IN_OPEN);
            off += ssize_t(sizeof(inotify_event) + e->len);
        }
        if (listed) {
            if (!b.shown) b.instrument->bridgePresent();
            if (!cueTaken) {
                cueTaken = true;
                sim::OperatorScript script;
                script.replugWhenNoticed = true;  // at any speed the page must see the bridge leave
                b.instrument->runOperator(script);
            }
        }
        uint64_t now = nowUs();
        uint64_t next = now + 20'000;
        if (std::optional<uint64_t> due = b.instrument->nextEventUs(); due && *due < next) next = std::max(*due, now);
        b.wake.wait_for(lock, std::chrono::microseconds(uint64_t(double(next - now) / g_speed) + 50));
    }
    if (inotifyFd >= 0) close(inotifyFd);
}

// The operator's steps, one a line from the control FIFO.
void readControl(Bench& b, const std::string& fifo) {
    // Read and write: the open does not wait for a writer. A blocking open would hold umockdev's
    // path lock, which every other file call of this process then waits for.
    int fd = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    std::string pending;
    for (;;) {
        char buffer[256];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command == "quit") return;
            std::lock_guard lock(b.mutex);
            std::istringstream words(command);
            std::string verb, step;
            uint64_t count = 0;
            words >> verb;
            if ((verb == "at-frame" || verb == "at-byte") && words >> count >> step && step != "at-frame" &&
                step != "at-byte") {
                bool frames = verb == "at-frame";
                uint64_t now = frames ? b.instrument->framesReceived() : b.instrument->wireBytes().written;
                b.armed = Bench::Armed{frames, now + count, step};
            } else if (verb == "fault") {
                sim::Faults faults;
                std::string text, error;
                std::getline(words >> std::ws, text);
                if (sim::parseFaults(text, faults, &error)) b.instrument->setFaults(faults);
                else std::fprintf(stderr, "koral_bench: %s\n", error.c_str());
            } else if (!perform(b, command)) {
                std::fprintf(stderr, "koral_bench: unknown control command \"%s\"\n", command.c_str());
            }
            b.wake.notify_all();
        }
    }
}

// The MSP430's pins as the bridge drove them, one change a line: microseconds from the bench's
// start, RST or TEST, the new level. DTR drives RST (on: high, running), RTS drives TEST
// inverted (on: low).
bool writePins(const std::string& path, const std::vector<sim::LineEdge>& edges, uint64_t startUs) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (const sim::LineEdge& e : edges)
        std::fprintf(f, "%llu %s %d\n", static_cast<unsigned long long>(e.timeUs - std::min(e.timeUs, startUs)),
                     e.dtr ? "RST" : "TEST", e.dtr ? int(e.on) : int(!e.on));
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    bool autoOperator = true;
    std::string pinsFile;
    int first = argc;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], error;
        if (arg == "--") {
            first = i + 1;
            break;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg.rfind("--pins=", 0) == 0 && arg.size() > 7) {
            pinsFile = arg.substr(7);
            continue;
        }
        std::string value;
        switch (sim::takeValue(arg, "--sim-speed", value, error)) {
            case sim::OptionValue::Malformed:
                std::fprintf(stderr, "koral_bench: %s\n%s", error.c_str(), USAGE);
                return 64;
            case sim::OptionValue::Taken: {
                char* end = nullptr;
                g_speed = value.empty() ? 0 : std::strtod(value.c_str(), &end);
                if (value.empty() || *end || !(g_speed >= 1 && g_speed <= 100)) {
                    std::fprintf(stderr, "koral_bench: --sim-speed wants a factor from 1 to 100, such as 10\n%s", USAGE);
                    return 64;
                }
                continue;
            }
            case sim::OptionValue::NotThis: break;
        }
        if (arg == "--sim-operator=auto" || arg == "--sim-operator=hands") {
            autoOperator = arg == "--sim-operator=auto";
            continue;
        }
        sim::OptionParse parsed = sim::parseOption(arg, options, error);
        if (parsed == sim::OptionParse::Malformed || parsed == sim::OptionParse::NotOurs ||
            arg.rfind("--sim-fault", 0) == 0 || arg.rfind("--sim-bsl-version", 0) == 0) {
            std::fprintf(stderr, "koral_bench: %s\n%s",
                         parsed == sim::OptionParse::Malformed ? error.c_str() : ("unknown option " + arg).c_str(),
                         USAGE);
            return 64;
        }
    }
    if (first >= argc) {
        std::fprintf(stderr, "koral_bench: no COMMAND given\n%s", USAGE);
        return 64;
    }
    // umockdev's uevents need its preload in this process too.
    if (!std::getenv("KORAL_BENCH_PRELOADED")) {
        const char* shim = std::getenv("KORAL_BENCH_SHIM");
        if (!shim) {
            std::fprintf(stderr, "koral_bench: start it through tools/bench.sh\n");
            return 64;
        }
        setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
        setenv("KORAL_BENCH_PRELOADED", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("koral_bench: exec");
        return 70;
    }

    // The instrument keeps its time on the active clock, so the faster one comes first.
    std::optional<platform::ScaledClock> fast;
    if (g_speed != 1) platform::setActiveClock(&fast.emplace(g_speed));
    sim::InstrumentConfig config = bench::benchInstrumentConfig();
    config.attached = autoOperator;
    std::string error;
    std::unique_ptr<sim::Instrument> instrument = sim::makeInstrument(options, config, error);
    if (!instrument) {
        std::fprintf(stderr, "koral_bench: %s\n", error.c_str());
        return 66;
    }

    const uint64_t startUs = nowUs();
    Bench& b = g_bench;
    b.instrument = instrument.get();
    b.serial = instrument->bridgeSerial();
    b.autoOperator = autoOperator;
    {
        // The testbed's directory goes to /tmp, not to the program's temporary folder, where the
        // wizard's file chooser would list it beside the InfoA backups.
        const char* tmp = std::getenv("TMPDIR");
        std::string programs = tmp ? tmp : "";
        setenv("TMPDIR", "/tmp", 1);
        b.testbed = umockdev_testbed_new();
        if (tmp) setenv("TMPDIR", programs.c_str(), 1);
        else unsetenv("TMPDIR");
    }
    // The environment is complete before the testbed's handler or a thread of ours runs: umockdev's
    // preload reads it at every file call, and a setenv beside that may free what it reads (the
    // bench died at its start now and then). LD_PRELOAD counts only at exec: we keep our own.
    // The control FIFO takes steps with either operator: a person's by hand, a script's cuts.
    std::string fifo = testbedPath("/bench-control");
    mkfifo(fifo.c_str(), 0600);
    setenv("KORAL_BENCH_CONTROL", fifo.c_str(), 1);
    setenv("KORAL_BENCH_PORT", TTY_NODE, 1);
    unsetenv("KORAL_BENCH_PRELOADED");
    // Ours first: its close() must reach umockdev's, and its ioctl() calls umockdev's.
    setenv("LD_PRELOAD", (std::string(std::getenv("KORAL_BENCH_SHIM")) + ":libumockdev-preload.so.0").c_str(), 1);
    // The bus directory exists from the first bridge on; the auto operator watches it.
    {
        std::lock_guard lock(b.mutex);
        bool wasAttached = instrument->plugged();
        if (!wasAttached) instrument->plug();
        instrument->advance();
        showBridge(b);
        b.shown = true;
        if (!wasAttached) instrument->unplug();
    }
    std::string busDirectory = testbedPath("/sys/bus/usb/devices");

    if (!autoOperator)
        std::fprintf(stderr, "koral_bench: the operator's steps go to %s, one a line: plug, unplug, on, off, toggle, "
                     "power-on, power-off\n", fifo.c_str());
    std::thread supervisor([&] { supervise(b, busDirectory); });
    std::thread([&] { readControl(b, fifo); }).detach();

    signal(SIGINT, SIG_IGN);  // Ctrl-C is the program's; the bench ends with it
    signal(SIGQUIT, SIG_IGN);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        execvp(argv[first], argv + first);
        std::fprintf(stderr, "koral_bench: cannot run %s: %s\n", argv[first], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    {
        std::unique_lock lock(b.mutex);
        while (b.line) b.closeLocked();  // the program's exit closed what it still held
        b.stopping = true;
        b.wake.notify_all();
    }
    supervisor.join();
    int rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    instrument->stopOperator();
    if (!sim::saveInstrument(options, *instrument, error)) {
        std::fprintf(stderr, "koral_bench: %s\n", error.c_str());
        if (rc == 0) rc = 73;
    }
    unlink(fifo.c_str());
    if (!pinsFile.empty() && !writePins(pinsFile, instrument->lineEdges(), startUs) && rc == 0) rc = 73;
    // The testbed's directory goes; the process ends without tearing the testbed down, whose
    // handler thread may still be answering a program that left a child behind.
    std::error_code ec;
    std::filesystem::remove_all(std::string(umockdev_testbed_get_root_dir(b.testbed)), ec);
    std::_Exit(rc);
}
