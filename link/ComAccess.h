#pragma once
// The one class through which Kelvarin touches a serial port: open exclusively at a given rate
// (8N1, flow control left as the driver has it), paced writes, reads of what is already queued,
// and the text of the last failure for the caller to show.

#include "link/ExchangePacer.h"
#include "link/PortError.h"
#include "link/Rfc2217Codec.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <sys/types.h>

struct PortAddress;

class ComAccess {
public:
    ComAccess() = default;
    ~ComAccess();
    ComAccess(const ComAccess&) = delete;
    ComAccess& operator=(const ComAccess&) = delete;

    // The device path of a port name: "/dev/NAME" on POSIX, or NAME itself when it is already an
    // absolute path (pseudo-terminals, /dev/serial/by-id/...) or a URL; "\\.\NAME" on Windows.
    static std::string DevicePath(const std::string& portName);

    // Opens the device at the given rate, 8 data bits, no parity, one stop bit; a URL
    // connects to a serial device server instead: "rfc2217://HOST:PORT" sets the server's line
    // as a device's is set, "socket://HOST:PORT" leaves the server's own settings. On failure the
    // port stays closed and LastError() holds the reason.
    bool Open(const std::string& devicePath, uint32_t baudRate);
    void Close();
    bool IsOpen() const { return m_hCom.load() >= 0; }

    // Number of bytes written, 0 when length < 1, -1 on failure.
    int WriteData(const void* data, uint32_t length);
    // Sends the text one byte at a time with 5 ms after each byte (meters are paced at that
    // rate). Returns its length when every byte was written, -1 when a write failed (LastError
    // says why; the rest is not sent and no command is retried), or the bytes written before the
    // pacer was cut short.
    int WriteString(const std::string& text, const CExchangePacer& pacer = CExchangePacer::Uncut());
    // Waits at most 1 ms for a received byte, then reads at most `wanted` bytes that are already
    // queued. Never writes past `wanted` bytes and leaves nothing pending when it returns.
    // Returns the count read, 0 when wanted < 1, -1 on failure (also when the device is gone).
    int ReadData(void* buffer, uint32_t wanted);
    // ReadData without the wait: what is queued now, 0 when nothing is, -1 when the device has
    // gone. The streams read this way, so an idle port costs no timer.
    int ReadQueued(void* buffer, uint32_t wanted);
    // Waits until a byte is queued or the device has gone (Readable), `wakeFd` is readable
    // (Woken) or `timeoutMs` has passed (-1: no limit). A closed port waits on `wakeFd` alone. For
    // the thread that owns the port: it must not be closed by another thread meanwhile.
    enum class Wait { Readable, Woken, TimedOut };
    Wait WaitForInput(int wakeFd, int timeoutMs);
    // Bytes waiting in the driver's input queue, -1 when the port is closed or the query fails.
    int QueuedInputCount();

    // The last failure: its kind, errno and operation (Text() gives the operation, then
    // ": (errno) strerror\n").
    PortError LastError() const;

    // Tests: every later Open of `devicePath` fails with `errorCode` as if the system refused it
    // (root, as in CI, is never refused for permissions). 0 takes the failure back.
    static void InjectOpenFailure(const std::string& devicePath, int errorCode);

    static constexpr uint32_t kMeterBaudRate = 57600;

private:
    void SetError(PortOperation operation, int code);
    void SetDetailedError(PortFault kind, int code, const std::string& detail);
    bool OpenNetworkLocked(const std::string& url, uint32_t baudRate);
    bool NegotiateLocked(const PortAddress& address, uint32_t baudRate);
    // Every byte or -1 (LastError says why), within the write time limit.
    int SendAllLocked(int fd, const std::string& bytes);
    // rfc2217:// ports: one read of the socket through the codec (its count, as read() gives);
    // then what it decoded, at most `wanted` bytes.
    ssize_t PullTelnetLocked(int fd);
    int TakeDecodedLocked(void* buffer, uint32_t wanted);
    void CloseLocked();
    int Read(void* buffer, uint32_t wanted, int waitMs);

    std::atomic<int> m_hCom{-1};
    bool m_bSocket = false; // under m_lock: the descriptor is a network port's TCP socket
    // Under m_lock: an rfc2217:// port's telnet codec and the data it decoded, not read yet.
    std::unique_ptr<CRfc2217Codec> m_telnet;
    std::string m_decoded;
    std::atomic<size_t> m_nDecoded{0}; // m_decoded's size, for the wait without the lock
    // Serialises the descriptor's use against Close, which may come from another thread than the
    // channel's worker that reads and writes. Every call under it is short (a 1 ms wait at most).
    mutable std::mutex m_lock;
    PortError m_lastError;
};
