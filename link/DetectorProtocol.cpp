#include "link/DetectorProtocol.h"

#include "link/ComAccess.h"
#include "link/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#endif

namespace DetectorProtocol {

std::string WavelengthCommand(int wavelengthNm) {
    return "*PWC" + FormatIntWidth(wavelengthNm, 5);
}

void WaitMs(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool SendCommand(ComAccess& port, const std::string& command, const CExchangePacer& pacer) {
    return port.WriteString(command, pacer) == static_cast<int>(command.size());
}

std::string ReadReply(ComAccess& port) {
    char buffer[kReplyBufferSize] = {};
    const int queued = port.QueuedInputCount();
    if (queued > 0) {
        const uint32_t wanted = static_cast<uint32_t>(queued) < kReplyBufferSize - 1
                                    ? static_cast<uint32_t>(queued)
                                    : kReplyBufferSize - 1;
        port.ReadData(buffer, wanted);
    }
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

namespace {

bool EndsWithLineEnd(const std::string& bytes) {
    return bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0;
}

} // namespace

std::string ReadAnswer(ComAccess& port, const CExchangePacer& pacer, bool waitIfSilent) {
    // Raw bytes first, zero bytes included, so that the cut at the first zero byte is the same
    // however the reply was split.
    std::string bytes;
    const auto take = [&] {
        const int queued = port.QueuedInputCount();
        if (queued <= 0)
            return;
        const size_t room = kReplyBufferSize - 1 - bytes.size();
        const size_t wanted = std::min(room, static_cast<size_t>(queued));
        if (wanted == 0)
            return;
        const size_t before = bytes.size();
        bytes.resize(before + wanted);
        const int n = port.ReadData(&bytes[before], static_cast<uint32_t>(wanted));
        bytes.resize(before + static_cast<size_t>(std::max(0, n)));
    };
    take();
    const auto unfinished = [&] {
        if (bytes.size() >= kReplyBufferSize - 1 || EndsWithLineEnd(bytes))
            return false;
        return waitIfSilent || !bytes.empty();
    };
    for (unsigned waited = 0; unfinished() && waited < kLateReplyMs; waited += kLateReplyStepMs) {
        if (!pacer.Pause(kLateReplyStepMs))
            break; // cut short: the exchange ends with what has come
        take();
    }
    return std::string(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
}

std::string SerialFromReply(const std::string& reply) {
    return reply.size() < 4 ? std::string() : reply.substr(4);
}

std::string TrimRight(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' ||
                       text[end - 1] == '\n'))
        --end;
    return text.substr(0, end);
}

namespace {

// "*CSU", 100 ms, discard; "*NAM", 100 ms, read; "*SNN", 100 ms, read; both trimmed. The meter is
// left silent. Stops at the first command that could not be written. A reply late or in pieces
// is read on to its CR LF (ReadAnswer); a port that says nothing to "*NAM" has no meter, and its
// "*SNN" gets the plain 100 ms.
bool StopAndIdentify(ComAccess& port, std::string& name, std::string& serial,
                     const CExchangePacer& pacer) {
    if (!SendCommand(port, kStopStream, pacer) || !pacer.Pause(100))
        return false;
    ReadAnswer(port, pacer, false); // whatever the meter was still streaming, to its line's end
    if (!SendCommand(port, kAskName, pacer) || !pacer.Pause(100))
        return false;
    const std::string nameReply = ReadAnswer(port, pacer, true);
    name = TrimRight(nameReply);
    if (!SendCommand(port, kAskSerial, pacer) || !pacer.Pause(100))
        return false;
    serial = TrimRight(SerialFromReply(ReadAnswer(port, pacer, !nameReply.empty())));
    return true;
}

} // namespace

ProbeResult ProbePort(const std::string& portName, const CExchangePacer& pacer) {
    ProbeResult result;
    ComAccess port;
    if (!port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate)) {
        result.error = port.LastError();
        return result;
    }
    result.opened = true;
    if (!StopAndIdentify(port, result.name, result.serial, pacer) && !pacer.IsCut()) {
        result.error = port.LastError();
    }
    return result; // the port closes here without another command
}

bool OpenMeterPort(ComAccess& port, const std::string& portName, const CExchangePacer& pacer) {
    const bool opened = port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate);
    pacer.Pause(200);
    pacer.Pause(200);
    return opened;
}

bool ApplyWavelengthAndStart(ComAccess& port, int wavelengthNm, const CExchangePacer& pacer) {
    return SendCommand(port, WavelengthCommand(wavelengthNm), pacer) && pacer.Pause(200) &&
           SendCommand(port, kStartStream, pacer);
}

bool ApplyConfiguration(ComAccess& port, int wavelengthNm, bool anticipation,
                        const CExchangePacer& pacer) {
    return SendCommand(port, WavelengthCommand(wavelengthNm), pacer) && pacer.Pause(200) &&
           SendCommand(port, anticipation ? kAnticipationOn : kAnticipationOff, pacer);
}

bool ReadIdentification(ComAccess& port, std::string& name, std::string& serial,
                        const CExchangePacer& pacer) {
    if (!SendCommand(port, kAskName, pacer) || !pacer.Pause(100))
        return false;
    name = ReadAnswer(port, pacer, true);
    if (!SendCommand(port, kAskSerial, pacer) || !pacer.Pause(100))
        return false;
    serial = SerialFromReply(ReadAnswer(port, pacer, !name.empty()));
    return true;
}

bool StartStream(ComAccess& port, const CExchangePacer& pacer) {
    return SendCommand(port, kStartStream, pacer) && pacer.Pause(200);
}

ResumeResult ResumeMeter(ComAccess& port, const std::string& portName,
                         const ResumeSettings& settings, const CExchangePacer& pacer) {
    if (!port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate))
        return ResumeResult::PortAbsent;
    std::string name, serial;
    if (!pacer.Pause(200) || !StopAndIdentify(port, name, serial, pacer)) {
        port.Close(); // gone again before it answered, or the try was cut short
        return ResumeResult::PortAbsent;
    }
    if (serial.empty() || serial != TrimRight(settings.serial)) {
        port.Close();
        return ResumeResult::OtherMeter;
    }
    if (!ApplyConfiguration(port, settings.wavelengthNm, settings.anticipation, pacer) ||
        !pacer.Pause(200) || !StartStream(port, pacer)) {
        CloseMeter(port);
        return ResumeResult::PortAbsent;
    }
    return ResumeResult::Resumed;
}

void CloseMeter(ComAccess& port) {
    if (port.IsOpen())
        port.WriteString(kStopStream);
    port.Close();
}

std::string PermissionHint(const std::string& devicePath, const PortError& error) {
#ifdef _WIN32
    (void)devicePath;
    (void)error;
    return std::string();
#else
    if (error.kind != PortFault::Refused)
        return std::string();
    std::string group = "dialout";
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) == 0) {
        char buffer[1024];
        struct group entry {};
        struct group* found = nullptr;
        if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            group = found->gr_name;
    }
    return "Your user account must belong to the group that owns " + devicePath + " (\"" + group +
           "\"; typically dialout): run 'sudo usermod -aG " + group +
           " $USER', then log out and in again.";
#endif
}

std::string OpenFailureText(const std::string& portName, const PortError& error) {
    std::string text = portName + ": cannot open the port: " + error.Text();
    const std::string hint = PermissionHint(ComAccess::DevicePath(portName), error);
    if (!hint.empty())
        text += hint + "\n";
    return text;
}

} // namespace DetectorProtocol
