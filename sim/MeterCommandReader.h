#pragma once
// Decodes the commands a meter receives. They arrive one byte at a time with no terminator:
// four-byte commands end with their fourth byte; "*PWC" is followed by a field of five or more
// blanks and digits that ends at the next byte that cannot belong to it (such as the '*' of the
// next command), after an idle gap, or at its maximum length.

#include <cstdint>
#include <optional>
#include <string>

struct MeterCommand {
    enum Kind {
        StopStream,
        AskName,
        AskSerial,
        StartStream,
        SetWavelength,
        AnticipationOn,
        AnticipationOff
    };
    Kind kind = StopStream;
    int wavelength = 0; // nm, for SetWavelength
};

class CMeterCommandReader {
public:
    // A wavelength field ends when no byte has come for this long (the sender paces bytes 5 ms
    // apart and waits 200 ms after the command).
    static constexpr int64_t kFieldIdleMs = 50;
    static constexpr size_t kMaxFieldLength = 10;

    // Feeds one received byte at `nowMs` (any monotonic millisecond clock). Returns the command
    // the byte completes, if any. Bytes outside a known command are ignored; '*' always starts a
    // new command.
    std::optional<MeterCommand> Feed(char byte, int64_t nowMs) { return Feed(byte, nowMs, nowMs); }
    // The same for a byte known only to have arrived between `arrivedAfterMs` (when the port
    // was last seen empty) and `readAtMs` (when it was read), as a reader that a busy machine
    // wakes late knows it: the idle gap is judged from its earliest arrival, so that a late
    // read never cuts a field the sender paced, and the next gap counts from its read.
    std::optional<MeterCommand> Feed(char byte, int64_t arrivedAfterMs, int64_t readAtMs);
    // Completes a pending wavelength field whose idle gap has passed.
    std::optional<MeterCommand> Poll(int64_t nowMs);
    // Milliseconds until Poll may complete a pending field; -1 when nothing is pending.
    int64_t MsUntilDeadline(int64_t nowMs) const;

private:
    std::optional<MeterCommand> FinishField();

    std::string m_command; // "*" and the letters received so far, empty when idle
    std::string m_field;   // wavelength field of "*PWC"
    bool m_inField = false;
    int64_t m_lastByteMs = 0;
};
