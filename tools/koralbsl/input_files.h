#pragma once
// The files a driver run reads, checked before any port is opened: a mistake in them must end
// the run with a message, never reach an instrument.
#include <cstdint>
#include <string>
#include <vector>

// What a well-formed TI-TXT text holds.
struct TiTxtSection {
    uint32_t address = 0;
    uint32_t size = 0;
};

// Checks `text` as TI-TXT: address lines ("@" and hex digits, up to 0xFFFF, or 0xFFFFF with
// `extended`), data lines of one to sixteen two-digit hexadecimal values separated by single
// blanks (one blank may end the line), empty lines, and a final "q" with nothing after it. CR LF
// and LF line ends are both accepted. On success `crlf` is the same text with CR LF line ends
// (what the driver's reader needs) and `sections` what it holds; otherwise `error` names the line.
bool checkTiTxt(const std::string& text, bool extended, std::string& crlf, std::vector<TiTxtSection>& sections,
                std::string& error);

// A password file holds exactly the 32 bytes at 0xFFE0, in one section: anything else goes out
// as a wrong password, which some loaders answer by erasing the part.
bool checkPasswordSections(const std::vector<TiTxtSection>& sections, std::string& error);

// Reads a regular file whole; directories, device nodes and unreadable files are refused.
bool readRegularFile(const std::string& path, std::string& bytes, std::string& error);
