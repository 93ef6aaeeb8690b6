#include "link/DetectorProtocol.h"

#include "link/ComAccess.h"
#include "link/NumberText.h"

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
// left silent.
void StopAndIdentify(ComAccess& port, std::string& name, std::string& serial) {
    port.WriteString(kStopStream);
    WaitMs(100);
    ReadReply(port); // whatever the meter was still streaming
    port.WriteString(kAskName);
    WaitMs(100);
    name = TrimRight(ReadReply(port));
    port.WriteString(kAskSerial);
    WaitMs(100);
    serial = TrimRight(SerialFromReply(ReadReply(port)));
}

} // namespace

ProbeResult ProbePort(const std::string& portName) {
    ProbeResult result;
    ComAccess port;
    if (!port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate)) {
        result.error = port.LastError();
        result.errorCode = port.LastErrorCode();
        return result;
    }
    result.opened = true;
    StopAndIdentify(port, result.name, result.serial);
    return result; // the port closes here without another command
}

bool OpenMeterPort(ComAccess& port, const std::string& portName) {
    const bool opened = port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate);
    WaitMs(200);
    WaitMs(200);
    return opened;
}

void ApplyWavelengthAndStart(ComAccess& port, int wavelengthNm) {
    port.WriteString(WavelengthCommand(wavelengthNm));
    WaitMs(200);
    port.WriteString(kStartStream);
}

void ApplyConfiguration(ComAccess& port, int wavelengthNm, bool anticipation) {
    port.WriteString(WavelengthCommand(wavelengthNm));
    WaitMs(200);
    port.WriteString(anticipation ? kAnticipationOn : kAnticipationOff);
}

void ReadIdentification(ComAccess& port, std::string& name, std::string& serial) {
    port.WriteString(kAskName);
    WaitMs(100);
    name = ReadReply(port);
    port.WriteString(kAskSerial);
    WaitMs(100);
    serial = SerialFromReply(ReadReply(port));
}

void StartStream(ComAccess& port) {
    port.WriteString(kStartStream);
    WaitMs(200);
}

ResumeResult ResumeMeter(ComAccess& port, const std::string& portName,
                         const ResumeSettings& settings) {
    if (!port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate))
        return ResumeResult::PortAbsent;
    WaitMs(200);
    std::string name, serial;
    StopAndIdentify(port, name, serial);
    if (serial.empty() || serial != TrimRight(settings.serial)) {
        port.Close();
        return ResumeResult::OtherMeter;
    }
    ApplyConfiguration(port, settings.wavelengthNm, settings.anticipation);
    WaitMs(200);
    StartStream(port);
    return ResumeResult::Resumed;
}

void CloseMeter(ComAccess& port) {
    if (port.IsOpen())
        port.WriteString(kStopStream);
    port.Close();
}

std::string PermissionHint(const std::string& devicePath, int errorCode) {
#ifdef _WIN32
    (void)devicePath;
    (void)errorCode;
    return std::string();
#else
    if (errorCode != EACCES && errorCode != EPERM)
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

} // namespace DetectorProtocol
