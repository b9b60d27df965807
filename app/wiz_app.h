#pragma once
// The program's entry: builds the wizard and its pages, loads the vendor library from the
// program's resources, runs the wizard modally and ends.
#include <mutex>
#include <string>

#include "app/simulation.h"
#include "platform/ui/afxwin.h"

class CWizAppCommandLineInfo : public CCommandLineInfo {
public:
    void ParseParam(const char* param, BOOL isFlag, BOOL isLast) override;

    BOOL m_bSkipService = FALSE;
    // Our own switch SIMULATE and the "--sim-..." options that go with it.
    BOOL m_bSimulate = FALSE;
    SimulationOptions m_simulation;
    std::string m_strSimulationError;  // the first malformed "--sim-..." option
    // --bridge-list=FILE: the vendor library's bridges come from FILE (vendor/file_bridges.h).
    std::string m_strBridgeList;
};

// The process's exit status: what a script learns about the last upload of the run.
enum ExitStatus : int {
    EXIT_STARTED = 0,       // the last upload ended with the green tick: the instrument runs it
    EXIT_UNCONFIRMED = 1,   // programmed, but the instrument was not seen starting it
    EXIT_NOT_PROGRAMMED = 2,// the last upload failed, or none was run
    EXIT_NO_START = 3,      // no wizard: the vendor library or a --sim-* option was refused
    EXIT_NOT_SAVED = 4,     // SIMULATE: the simulated instrument could not be saved to its state file
};

class CWizApp : public CWinApp {
public:
    BOOL InitInstance() override;

    CWizAppCommandLineInfo m_cmdInfo;
    int m_nExitStatus = EXIT_NOT_PROGRAMMED;
    // Under SIMULATE, while InitInstance runs: for tests that play along, and for a signal's end,
    // which saves the instrument from another thread (hence the lock).
    Simulation* m_pSimulation = nullptr;
    std::mutex m_simulationLock;
};

// The exit status for the upload page's result (0, 1 or 2).
int ExitStatusForResult(int result);
