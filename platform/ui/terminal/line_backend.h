#pragma once
// The wizard as lines, for scripts, CI and standard output that is no terminal: each page's
// texts when it is shown, the log boxes as they grow, percentages in steps of ten, the result,
// every message box with its answer. Answers and clicks come from standard input as short
// commands when `answersFromInput`; otherwise boxes take their first button and file dialogs
// cancel (someone else, the simulated operator, does the clicking).
#include <cstdio>
#include <map>
#include <string>

#include "platform/ui/backend.h"
#include "platform/ui/model.h"

namespace ui::term {

class LineBackend final : public Backend {
public:
    LineBackend(std::FILE* out, int inputFd, bool answersFromInput);
    ~LineBackend() override { start(); }

    void windowChanged(HWND handle, unsigned what) override;
    void windowDestroyed(HWND handle) override;
    int messageBox(const MessageBoxRequest& request) override;
    bool fileDialog(FileDialogRequest& request) override;
    void beep(UINT) override {}
    bool waitForInput(HWND modalDialog) override;

    void messageBoxAnswered(const MessageBoxRequest& request, int answer) override;
    void fileDialogAnswered(const FileDialogRequest& request, bool chosen) override;

private:
    void pageShown(const Window& page);
    void textChanged(HWND handle, const Window& w);
    void print(const std::string& text);
    // Output is held while the wizard sets itself up, so that its caption, set last, comes first.
    void start();
    // One line from the input; false at its end.
    bool readLine(std::string& line, int timeoutMs);
    void command(HWND dialog, const std::string& line);

    std::FILE* out_;
    int in_;
    bool answers_;
    bool inputEnded_ = false;
    std::string pending_;  // input read past the last line end
    std::map<HWND, std::string> texts_;
    std::map<HWND, int> percents_;
    std::string caption_;
    bool started_ = false;
    std::string held_;
};

}  // namespace ui::term
