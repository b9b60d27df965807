#pragma once
// The kernel's termios as TCGETS and TCSETS carry it, and what it means for the line.
#include <sys/ioctl.h>
#include <termios.h>

#include <cstdint>
#include <cstring>

#include "platform/os/serial.h"

namespace bench {

// Our preload's word for "the program closes the port" (umockdev does not report closes).
constexpr unsigned long BENCH_RELEASE = _IO('K', 0xB7);

struct Termios {  // struct termios of <asm/termbits.h>, which cannot meet <termios.h>
    uint32_t c_iflag, c_oflag, c_cflag, c_lflag;
    uint8_t c_line;
    uint8_t c_cc[19];
};

// A usb-serial port's settings before any program touched them: 9600 8N1, the tty defaults.
inline Termios initialTermios() {
    Termios t{};
    t.c_iflag = ICRNL | IXON;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = B9600 | CS8 | CREAD | HUPCL | CLOCAL;
    t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | IEXTEN;
    const uint8_t cc[] = {3, 28, 127, 21, 4, 0, 1, 0, 17, 19, 26, 0, 18, 15, 23, 22, 0};
    std::memcpy(t.c_cc, cc, sizeof cc);
    return t;
}

// The rate the CBAUD bits name; 0 for B0 and for a code without a fixed rate (BOTHER).
inline uint32_t baudOf(const Termios& t) {
    static const struct {
        uint32_t code, rate;
    } rates[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
                 {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
                 {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                 {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
                 {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}};
    for (const auto& r : rates)
        if ((t.c_cflag & CBAUD) == r.code) return r.rate;
    return 0;
}

inline platform::LineState lineStateOf(const Termios& t) {
    platform::LineState s;
    s.baudRate = baudOf(t);
    switch (t.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB)) s.parity = platform::parity::NONE;
    else if (t.c_cflag & CMSPAR) s.parity = (t.c_cflag & PARODD) ? platform::parity::MARK : platform::parity::SPACE;
    else s.parity = (t.c_cflag & PARODD) ? platform::parity::ODD : platform::parity::EVEN;
    s.stopBits = (t.c_cflag & CSTOPB) ? platform::stopBits::TWO : platform::stopBits::ONE;
    s.fParity = (t.c_cflag & PARENB) != 0;
    s.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    s.fOutX = (t.c_iflag & IXON) != 0;
    s.fInX = (t.c_iflag & IXOFF) != 0;
    return s;
}

}  // namespace bench
