#pragma once
// The meters' command language and the exchanges built on it. Every function runs on the
// calling thread and blocks it for the pauses the meters need (5 ms per command byte, then
// 100 or 200 ms after a command), which `pacer` can cut short. The exchanges that write say
// whether every byte went out: false when a write failed (the port's LastError says why) or the
// pacer was cut short.

#include "link/ExchangePacer.h"
#include "link/PortError.h"

#include <string>

class ComAccess;

namespace DetectorProtocol {

inline constexpr const char* kStopStream = "*CSU";
inline constexpr const char* kAskName = "*NAM";
inline constexpr const char* kAskSerial = "*SNN";
inline constexpr const char* kStartStream = "*CAU";
inline constexpr const char* kAnticipationOn = "*ANT";
inline constexpr const char* kAnticipationOff = "*ANF";

// A reply is read into a buffer of this size, zeroed before the command; at most size - 1
// bytes are taken so the text always ends in a zero byte, the rest stays queued.
inline constexpr unsigned kReplyBufferSize = 512;
// The polling thread's receive buffer.
inline constexpr unsigned kStreamBufferSize = 1000;

// "*PWC%5i": 1064 gives "*PWC 1064", 10600 gives "*PWC10600".
std::string WavelengthCommand(int wavelengthNm);

void WaitMs(unsigned milliseconds);
// Writes a command at the meters' pace; true when every byte was written.
bool SendCommand(ComAccess& port, const std::string& command, const CExchangePacer& pacer);

// Reads what the driver has queued (at most kReplyBufferSize - 1 bytes), up to the first zero
// byte. Empty when nothing is queued.
std::string ReadReply(ComAccess& port);

// How long a reply that has not come whole within its 100 ms is waited for, and how often the
// port is looked at meanwhile.
inline constexpr unsigned kLateReplyMs = 1000;
inline constexpr unsigned kLateReplyStepMs = 10;
// The reply to a question, read after its 100 ms pause: what is queued, and when that does not
// end in CR LF, what follows, until its CR LF, kLateReplyMs more or a full buffer. With
// `waitIfSilent` a reply that has not begun at all is waited for too; without, nothing queued is
// no reply. A meter that answers within 100 ms is read exactly as by ReadReply. Up to the first
// zero byte, at most kReplyBufferSize - 1 bytes.
std::string ReadAnswer(ComAccess& port, const CExchangePacer& pacer, bool waitIfSilent);

// Identification replies: the serial number is the reply without its 4-character header (empty
// when shorter). The probe removes trailing white space; the identify command keeps it.
std::string SerialFromReply(const std::string& reply);
std::string TrimRight(const std::string& text);

struct ProbeResult {
    bool opened = false;
    std::string name;   // trailing white space removed
    std::string serial; // trailing white space removed
    // Why the port could not be opened (`opened` false) or a command could not be written to it
    // (`opened` true).
    PortError error;
};

// Probe of a port: open at 57600; "*CSU", 100 ms, discard; "*NAM", 100 ms, read; "*SNN",
// 100 ms, read; close. "*CAU" is not sent, so the meter stays silent.
ProbeResult ProbePort(const std::string& portName,
                      const CExchangePacer& pacer = CExchangePacer::Uncut());

// Opens the port of a position at 57600 and waits 200 ms twice; nothing is sent.
bool OpenMeterPort(ComAccess& port, const std::string& portName,
                   const CExchangePacer& pacer = CExchangePacer::Uncut());
// "*PWC%5i" with the wavelength, 200 ms, "*CAU".
bool ApplyWavelengthAndStart(ComAccess& port, int wavelengthNm,
                             const CExchangePacer& pacer = CExchangePacer::Uncut());
// "*PWC%5i" with the wavelength, 200 ms, "*ANT" or "*ANF". No pause follows.
bool ApplyConfiguration(ComAccess& port, int wavelengthNm, bool anticipation,
                        const CExchangePacer& pacer = CExchangePacer::Uncut());
// "*NAM", 100 ms, read the name; "*SNN", 100 ms, read the serial number (each read on when late,
// ReadAnswer). Both are stored as received (no trimming). Nothing else may read the port meanwhile
// (the channel's worker runs it between two reads of the stream).
bool ReadIdentification(ComAccess& port, std::string& name, std::string& serial,
                        const CExchangePacer& pacer = CExchangePacer::Uncut());
// "*CAU", then 200 ms.
bool StartStream(ComAccess& port, const CExchangePacer& pacer = CExchangePacer::Uncut());
// What a meter that came back must be given again, as it was at connection.
struct ResumeSettings {
    std::string serial; // trailing white space removed before comparing
    int wavelengthNm = 1064;
    bool anticipation = true;
};
enum class ResumeResult {
    Resumed,    // the same meter answered: wavelength, anticipation and stream set again
    PortAbsent, // the port does not open (yet), or would not take a command
    OtherMeter, // another serial number, or no answer: the port is closed again
};
// A port that was lost, tried again: open at 57600, 200 ms; "*CSU", 100 ms, discard; "*NAM",
// 100 ms; "*SNN", 100 ms. With the same serial: "*PWC%5i", 200 ms, "*ANT" or "*ANF", 200 ms,
// "*CAU", and the port stays open; otherwise it is closed.
ResumeResult ResumeMeter(ComAccess& port, const std::string& portName,
                         const ResumeSettings& settings,
                         const CExchangePacer& pacer = CExchangePacer::Uncut());

// "*CSU", then close. No pause.
void CloseMeter(ComAccess& port);

// A line to add to a port error when the system refused the device for lack of permission:
// the account must belong to the group that owns the device. Empty for other errors.
std::string PermissionHint(const std::string& devicePath, const PortError& error);
// What a user is told of a port that could not be opened: "PORT: cannot open the port: " and the
// port's error text (which ends in a line feed), then the permission hint and a line feed when
// the system refused the device for lack of permission.
std::string OpenFailureText(const std::string& portName, const PortError& error);

} // namespace DetectorProtocol
