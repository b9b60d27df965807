#pragma once
// A serial line that writes down every call and every byte in both directions, for byte-exact
// tests: wrap the opener, run the code, compare the transcript.
#include <mutex>
#include <vector>

#include "platform/os/serial.h"

namespace platform {

struct SerialCall {
    enum class Op { Open, SetupQueues, GetTimeouts, SetTimeouts, SetEventMask, GetState, SetState, Purge,
                    QueueCounts, Read, Write, Close };
    Op op = Op::Open;
    bool ok = false;
    uint64_t timeUs = 0;         // active clock, after the call
    std::string path;            // Open
    uint32_t a = 0, b = 0;       // SetupQueues sizes; SetEventMask mask; Purge flags; Read/Write size
    LineState state;             // GetState, SetState
    Timeouts timeouts;           // GetTimeouts, SetTimeouts
    QueueCounts counts;          // QueueCounts
    std::vector<uint8_t> bytes;  // Write: offered; Read: received
};

class SerialRecording {
public:
    void add(SerialCall call);
    std::vector<SerialCall> calls() const;
    void clear();
    // Every byte written, and every byte read, in order.
    std::vector<uint8_t> written() const;
    std::vector<uint8_t> received() const;
    // One line per call ("write 80", "read 90", "setState 9600 8E1 dtr=1 rts=1", ...). With
    // `collapsePolls`, runs of equal queueCounts and empty reads become one line with " xN".
    std::string text(bool collapsePolls = true) const;

private:
    mutable std::mutex mutex_;
    std::vector<SerialCall> calls_;
};

std::string describe(const SerialCall& call);

class RecordingSerialLine final : public SerialLine {
public:
    RecordingSerialLine(std::unique_ptr<SerialLine> inner, std::shared_ptr<SerialRecording> recording);
    bool setupQueues(uint32_t inQueue, uint32_t outQueue) override;
    bool getTimeouts(Timeouts& timeouts) override;
    bool setTimeouts(const Timeouts& timeouts) override;
    bool setEventMask(uint32_t mask) override;
    bool getState(LineState& state) override;
    bool setState(const LineState& state) override;
    bool purge(uint32_t flags) override;
    bool queueCounts(QueueCounts& counts) override;
    bool read(void* buffer, uint32_t size, uint32_t& done) override;
    bool write(const void* buffer, uint32_t size, uint32_t& done) override;
    bool close() override;

private:
    SerialCall call(SerialCall::Op op, bool ok);
    std::unique_ptr<SerialLine> inner_;
    std::shared_ptr<SerialRecording> recording_;
};

// Records the opens (also failed ones) and the lines that `inner` gives (empty: the host's).
SerialOpener recordingOpener(SerialOpener inner, std::shared_ptr<SerialRecording> recording);

}  // namespace platform
