#include "sim/MeterCommandReader.h"

#include <climits>

namespace {

bool IsFieldByte(char byte) {
    return byte == ' ' || byte == '-' || (byte >= '0' && byte <= '9');
}

// The field as "%5i" writes it: blanks, an optional minus sign, digits. Anything else, a field
// without digits or a value beyond int is not a wavelength.
bool ParseField(const std::string& field, int& value) {
    size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    bool negative = false;
    if (i < field.size() && field[i] == '-') {
        negative = true;
        ++i;
    }
    long long magnitude = 0;
    size_t digits = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i, ++digits) {
        magnitude = magnitude * 10 + (field[i] - '0');
        if (magnitude > INT_MAX)
            return false;
    }
    while (i < field.size() && field[i] == ' ')
        ++i;
    if (digits == 0 || i != field.size())
        return false;
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

} // namespace

std::optional<MeterCommand> CMeterCommandReader::Feed(char byte, int64_t arrivedAfterMs,
                                                      int64_t readAtMs) {
    const int64_t nowMs = readAtMs;
    std::optional<MeterCommand> finished;
    if (m_inField) {
        // A byte after the idle gap no longer belongs to the field, even if it could.
        if (arrivedAfterMs - m_lastByteMs < kFieldIdleMs && IsFieldByte(byte)) {
            m_field.push_back(byte);
            m_lastByteMs = nowMs;
            if (m_field.size() >= kMaxFieldLength)
                return FinishField();
            return std::nullopt;
        }
        finished = FinishField();
    }

    if (byte == '*') {
        m_command = "*";
        return finished;
    }
    if (m_command.empty())
        return finished;
    m_command.push_back(byte);
    if (m_command.size() < 4)
        return finished;

    std::string command;
    command.swap(m_command);
    MeterCommand decoded;
    if (command == "*CSU")
        decoded.kind = MeterCommand::StopStream;
    else if (command == "*NAM")
        decoded.kind = MeterCommand::AskName;
    else if (command == "*SNN")
        decoded.kind = MeterCommand::AskSerial;
    else if (command == "*CAU")
        decoded.kind = MeterCommand::StartStream;
    else if (command == "*ANT")
        decoded.kind = MeterCommand::AnticipationOn;
    else if (command == "*ANF")
        decoded.kind = MeterCommand::AnticipationOff;
    else if (command == "*PWC") {
        m_inField = true;
        m_field.clear();
        m_lastByteMs = nowMs;
        return finished;
    } else
        return finished;
    return decoded;
}

std::optional<MeterCommand> CMeterCommandReader::Poll(int64_t nowMs) {
    if (m_inField && nowMs - m_lastByteMs >= kFieldIdleMs)
        return FinishField();
    return std::nullopt;
}

int64_t CMeterCommandReader::MsUntilDeadline(int64_t nowMs) const {
    if (!m_inField)
        return -1;
    int64_t left = m_lastByteMs + kFieldIdleMs - nowMs;
    return left > 0 ? left : 0;
}

std::optional<MeterCommand> CMeterCommandReader::FinishField() {
    m_inField = false;
    std::string field;
    field.swap(m_field);
    int wavelength = 0;
    if (!ParseField(field, wavelength))
        return std::nullopt;
    MeterCommand command;
    command.kind = MeterCommand::SetWavelength;
    command.wavelength = wavelength;
    return command;
}
