#pragma once
// An output target that keeps every piece and progress report, for tests.
#include <string>
#include <utility>
#include <vector>

#include "bsl/output.h"

class CollectingOutput final : public OutputTarget {
public:
    void postText(char* text) override {
        pieces.emplace_back(text);
        freeEngineText(text);
    }
    void postProgress(uint32_t consumed, uint32_t total) override {
        progress.emplace_back(consumed, total);
    }
    // All pieces as one text.
    std::string text() const {
        std::string all;
        for (const auto& piece : pieces) all += piece;
        return all;
    }
    // The text cut at its line ends.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string all = text();
        size_t from = 0;
        for (size_t at; (at = all.find('\n', from)) != std::string::npos; from = at + 1)
            out.push_back(all.substr(from, at - from));
        if (from < all.size()) out.push_back(all.substr(from));
        return out;
    }
    void clear() {
        pieces.clear();
        progress.clear();
    }

    std::vector<std::string> pieces;
    std::vector<std::pair<uint32_t, uint32_t>> progress;
};
