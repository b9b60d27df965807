#include "tools/koralbsl/input_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::string hex(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", unsigned(value));
    return buf;
}

// One line without its line end; false with `what` set when it is not of the dialect.
class LineChecker {
public:
    explicit LineChecker(bool extended) : limit_(extended ? 0x100000 : 0x10000), extended_(extended) {}

    bool line(const std::string& l, std::string& what) {
        if (ended_) {
            if (l.find_first_not_of(' ') == std::string::npos) return true;
            what = "text after the final \"q\"";
            return false;
        }
        std::string t = l.substr(0, l.find_last_not_of(' ') + 1);
        if (t.empty()) return true;
        if (t == "q") return ended_ = true;
        if (t[0] == '@') return address(t.substr(1), what);
        return data(l, what);
    }
    bool ended() const { return ended_; }
    std::vector<TiTxtSection>& sections() { return sections_; }

private:
    bool address(const std::string& digits, std::string& what) {
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
            what = "\"@" + digits + "\" is not an address line";
            return false;
        }
        uint32_t a = uint32_t(std::stoul(digits, nullptr, 16));
        if (a >= limit_) {
            what = "address " + hex(a) + (extended_ ? " is beyond 20 bits" : " does not fit 16 bits (-x allows 20)");
            return false;
        }
        sections_.push_back({a, 0});
        return true;
    }
    bool data(const std::string& l, std::string& what) {
        if (sections_.empty()) {
            what = "data before the first address line";
            return false;
        }
        // "HH", then " HH" up to fifteen times, then at most one blank.
        size_t values = 0;
        for (size_t i = 0; i < l.size(); i += 3, ++values) {
            bool value = i + 1 < l.size() && isHex(l[i]) && isHex(l[i + 1]);
            if (!value || (i + 2 < l.size() && l[i + 2] != ' ')) {
                what = "\"" + l + "\" is not a line of two-digit hexadecimal values separated by single blanks";
                return false;
            }
        }
        if (values > 16) {
            what = "more than 16 values on one line";
            return false;
        }
        TiTxtSection& s = sections_.back();
        s.size += uint32_t(values);
        if (uint64_t(s.address) + s.size > limit_) {
            what = std::string("data run past ") + (extended_ ? "0xFFFFF" : "0xFFFF (-x allows 20 bits)");
            return false;
        }
        return true;
    }

    uint32_t limit_;
    bool extended_;
    bool ended_ = false;
    std::vector<TiTxtSection> sections_;
};

}  // namespace

bool checkTiTxt(const std::string& text, bool extended, std::string& crlf, std::vector<TiTxtSection>& sections,
                std::string& error) {
    LineChecker checker(extended);
    crlf.clear();
    crlf.reserve(text.size() + text.size() / 40);
    size_t number = 0;
    for (size_t pos = 0; pos < text.size();) {
        ++number;
        size_t lf = text.find('\n', pos);
        size_t end = lf == std::string::npos ? text.size() : lf;
        size_t contentEnd = end > pos && text[end - 1] == '\r' ? end - 1 : end;
        std::string line = text.substr(pos, contentEnd - pos);
        std::string what;
        if (line.find('\r') != std::string::npos || line.find('\0') != std::string::npos)
            what = "a CR without LF, or a NUL byte";
        if (!what.empty() || !checker.line(line, what)) {
            error = "line " + std::to_string(number) + ": " + what;
            return false;
        }
        crlf += line;
        if (lf != std::string::npos) crlf += "\r\n";
        pos = lf == std::string::npos ? text.size() : lf + 1;
    }
    if (!checker.ended()) {
        error = "no final \"q\" line";
        return false;
    }
    sections = std::move(checker.sections());
    return true;
}

bool checkPasswordSections(const std::vector<TiTxtSection>& sections, std::string& error) {
    if (sections.size() == 1 && sections[0].address == 0xFFE0 && sections[0].size == 32) return true;
    error = "a password file holds exactly the 32 bytes at 0xFFE0 in one section (\"@FFE0\" and two lines of 16 values)";
    return false;
}

bool readRegularFile(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        error = "does not exist";
        return false;
    }
    if (ec) {
        error = "cannot be read";
        return false;
    }
    if (std::filesystem::is_directory(status)) {
        error = "is a directory";
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "is not a regular file (a device?)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in || in.bad()) {
        error = "cannot be read";
        return false;
    }
    return true;
}
