/* What the shim in the Wine process tells koral_wine_bench about the port, and waits for a
 * one-byte answer to: the settings a program asked for (the pseudo-terminal keeps no parity) and
 * the modem lines, which a pseudo-terminal does not have. Same layout for the 32-bit shim and the
 * 64-bit bench. */
#ifndef KORAL_WINE_BENCH_LINE_EVENT_H
#define KORAL_WINE_BENCH_LINE_EVENT_H
#include <stdint.h>

#define KORAL_WINE_SOCKET_ENV "KORAL_WINE_SERIAL_SOCKET"

struct KoralLineEvent {
    uint32_t iflag;  /* termios as the program set it, parity and byte size included */
    uint32_t cflag;
    uint32_t modem;  /* TIOCM_DTR, TIOCM_RTS */
};

#endif
