// Fuzzes the simulator's reader of meter commands: arbitrary bytes at arbitrary (monotonic)
// times. Each result is checked against the rules the reader documents: a four-byte command is
// reported on its fourth byte and only then, and a wavelength only ever comes from the field of a
// "*PWC" command, ended by a byte that cannot belong to it, an idle gap or its maximum length.
//
// Input: the bytes the meter receives, 5 ms apart as the application sends them. 0xFF is an
// escape: 0xFF 0xFF feeds 0xFF; 0xFF 0xFE and four bytes feed the wavelength command the
// application builds for that int, then wait 200 ms; 0xFF and any other byte d waits d ms and
// polls.

#include "link/DetectorProtocol.h"
#include "sim/MeterCommandReader.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "command reader fuzz: %s\n", what);
        std::abort();
    }
}

constexpr int64_t kByteMs = 5;

const char* CommandText(MeterCommand::Kind kind) {
    switch (kind) {
    case MeterCommand::StopStream:
        return "*CSU";
    case MeterCommand::AskName:
        return "*NAM";
    case MeterCommand::AskSerial:
        return "*SNN";
    case MeterCommand::StartStream:
        return "*CAU";
    case MeterCommand::SetWavelength:
        return "*PWC";
    case MeterCommand::AnticipationOn:
        return "*ANT";
    case MeterCommand::AnticipationOff:
        return "*ANF";
    }
    return "";
}

// The wavelength field as the rules describe it, kept beside the reader.
class FieldModel {
public:
    bool Pending() const { return m_pending; }
    int64_t LastMs() const { return m_lastMs; }

    void Open(int64_t nowMs) {
        m_pending = true;
        m_field.clear();
        m_lastMs = nowMs;
    }

    // Whether the byte joins the field.
    bool Takes(char byte, int64_t nowMs) const {
        const bool fieldByte = byte == ' ' || byte == '-' || (byte >= '0' && byte <= '9');
        return m_pending && fieldByte && nowMs - m_lastMs < CMeterCommandReader::kFieldIdleMs;
    }
    void Add(char byte, int64_t nowMs) {
        m_field.push_back(byte);
        m_lastMs = nowMs;
    }
    bool Full() const { return m_field.size() >= CMeterCommandReader::kMaxFieldLength; }

    // Ends the field: the wavelength it names, if it is blanks, an optional '-', digits and
    // blanks, within int.
    std::optional<int> Close() {
        m_pending = false;
        size_t i = 0;
        while (i < m_field.size() && m_field[i] == ' ')
            ++i;
        const size_t numberStart = i;
        if (i < m_field.size() && m_field[i] == '-')
            ++i;
        const size_t digitsStart = i;
        while (i < m_field.size() && m_field[i] >= '0' && m_field[i] <= '9')
            ++i;
        const size_t numberEnd = i;
        while (i < m_field.size() && m_field[i] == ' ')
            ++i;
        if (numberEnd == digitsStart || i != m_field.size())
            return std::nullopt;
        const std::string number = m_field.substr(numberStart, numberEnd - numberStart);
        errno = 0;
        const long long value = std::strtoll(number.c_str(), nullptr, 10);
        if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
            return std::nullopt;
        return static_cast<int>(value);
    }

private:
    bool m_pending = false;
    std::string m_field;
    int64_t m_lastMs = 0;
};

class Harness {
public:
    void Feed(char byte) {
        m_nowMs += kByteMs;
        std::optional<MeterCommand> expected;
        if (m_field.Pending()) {
            if (m_field.Takes(byte, m_nowMs)) {
                m_field.Add(byte, m_nowMs);
                if (m_field.Full())
                    expected = Wavelength(m_field.Close());
                Compare(m_reader.Feed(byte, m_nowMs), expected, "field byte");
                CheckDeadline();
                return;
            }
            expected = Wavelength(m_field.Close());
        }
        if (byte == '*') {
            m_command.assign("*");
        } else if (!m_command.empty()) {
            m_command.push_back(byte);
            if (m_command.size() == 4) {
                Check(!expected, "a byte both ends a field and a command");
                for (int kind = MeterCommand::StopStream; kind <= MeterCommand::AnticipationOff;
                     ++kind) {
                    if (m_command != CommandText(static_cast<MeterCommand::Kind>(kind)))
                        continue;
                    MeterCommand command;
                    command.kind = static_cast<MeterCommand::Kind>(kind);
                    if (command.kind == MeterCommand::SetWavelength)
                        m_field.Open(m_nowMs);
                    else
                        expected = command;
                }
                m_command.clear();
            }
        }
        Compare(m_reader.Feed(byte, m_nowMs), expected, "command byte");
        CheckDeadline();
    }

    void Wait(int64_t ms) {
        CheckDeadline();
        // Polling early completes nothing.
        const int64_t left = m_reader.MsUntilDeadline(m_nowMs);
        if (left > 0 && ms >= left)
            Compare(m_reader.Poll(m_nowMs + left - 1), std::nullopt, "early poll");
        m_nowMs += ms;
        std::optional<MeterCommand> expected;
        if (m_field.Pending() && m_nowMs - m_field.LastMs() >= CMeterCommandReader::kFieldIdleMs)
            expected = Wavelength(m_field.Close());
        Compare(m_reader.Poll(m_nowMs), expected, "poll");
        CheckDeadline();
    }

    // What the application sends to set a wavelength, then its pause; the reader must hand back
    // the same wavelength whenever the field fits.
    void SendWavelength(int wavelength) {
        const std::string command = DetectorProtocol::WavelengthCommand(wavelength);
        m_lastWavelength.reset();
        for (char byte : command)
            Feed(byte);
        Wait(200);
        if (command.size() - 4 <= CMeterCommandReader::kMaxFieldLength)
            Check(m_lastWavelength == wavelength, "the application's wavelength did not arrive");
    }

private:
    static std::optional<MeterCommand> Wavelength(std::optional<int> value) {
        if (!value)
            return std::nullopt;
        MeterCommand command;
        command.kind = MeterCommand::SetWavelength;
        command.wavelength = *value;
        return command;
    }

    void Compare(const std::optional<MeterCommand>& got,
                 const std::optional<MeterCommand>& expected, const char* where) {
        if (got.has_value() != expected.has_value()) {
            std::fprintf(stderr, "%s at %lld ms: %s\n", where, static_cast<long long>(m_nowMs),
                         got ? "an unexpected command" : "a command is missing");
            Check(false, "command stream differs from the rules");
        }
        if (!got)
            return;
        Check(got->kind == expected->kind, "wrong command kind");
        if (got->kind == MeterCommand::SetWavelength) {
            Check(got->wavelength == expected->wavelength, "wrong wavelength");
            m_lastWavelength = got->wavelength;
        }
    }

    void CheckDeadline() const {
        const int64_t left = m_reader.MsUntilDeadline(m_nowMs);
        if (!m_field.Pending()) {
            Check(left == -1, "a deadline without a pending field");
            return;
        }
        const int64_t expected = m_field.LastMs() + CMeterCommandReader::kFieldIdleMs - m_nowMs;
        Check(left == (expected > 0 ? expected : 0), "wrong deadline");
    }

    CMeterCommandReader m_reader;
    FieldModel m_field;
    std::string m_command; // '*' and the bytes after it, empty when no command is under way
    int64_t m_nowMs = 1000;
    std::optional<int> m_lastWavelength;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness harness;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0xFF || i + 1 == size) {
            harness.Feed(static_cast<char>(data[i]));
            continue;
        }
        const uint8_t escape = data[++i];
        if (escape == 0xFF) {
            harness.Feed(static_cast<char>(0xFF));
        } else if (escape == 0xFE && i + 4 < size) {
            const uint32_t bits = uint32_t(data[i + 1]) | uint32_t(data[i + 2]) << 8 |
                                  uint32_t(data[i + 3]) << 16 | uint32_t(data[i + 4]) << 24;
            i += 4;
            harness.SendWavelength(static_cast<int>(bits));
        } else {
            harness.Wait(escape);
        }
    }
    return 0;
}
