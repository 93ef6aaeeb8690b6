#pragma once
// The client side of RFC 2217 (telnet with the COM-PORT-OPTION) as a state machine without a
// socket: bytes from the server go in through Feed, the meter's bytes come out of TakeData, and
// whatever is to be sent to the server collects in TakeOutput. Telnet framing (IAC doubling in
// both directions, negotiations and subnegotiations split anywhere in the stream) is libtelnet's.
//
// Start asks for BINARY both ways, SUPPRESS-GO-AHEAD and the COM-PORT-OPTION; once the server
// accepts the option the line is set to 57600 baud, 8 data bits, no parity, 1 stop bit and no
// flow control, and each answer is checked. Ready when every setting was answered as asked;
// Refused (with the reason) when the server refuses the option or answers another setting.
// The server's line-state and modem-state notifications are consumed.

#include <cstddef>
#include <cstdint>
#include <string>

struct telnet_t;
union telnet_event_t;

class CRfc2217Codec {
public:
    enum class State { Negotiating, Ready, Refused };

    explicit CRfc2217Codec(uint32_t baudRate = 57600);
    ~CRfc2217Codec();
    CRfc2217Codec(const CRfc2217Codec&) = delete;
    CRfc2217Codec& operator=(const CRfc2217Codec&) = delete;

    void Start();
    // Bytes received from the server, in any pieces.
    void Feed(const char* bytes, size_t size);
    // Data for the meter (IAC doubled on the way).
    void SendData(const char* bytes, size_t size);
    // Asks the server to drop what its serial port received and not yet sent on.
    void PurgeReceived();

    State GetState() const { return m_state; }
    // What the server refused or answered otherwise ("refused the COM-PORT-OPTION", "set the
    // baud rate to 9600 instead of 57600").
    const std::string& Refusal() const { return m_refusal; }

    std::string TakeOutput();
    std::string TakeData();
    size_t PendingData() const { return m_data.size(); }

    // COM-PORT-OPTION (44) and its commands; the server answers a command with it plus 100.
    static constexpr unsigned char kComPortOption = 44;
    enum Command : unsigned char {
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        PurgeData = 12,
        kServerOffset = 100,
    };

private:
    static void OnEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void Handle(const telnet_event_t& event);
    void SendSettings();
    void OnAnswer(unsigned char command, const std::string& value);
    void Refuse(const std::string& reason);

    telnet_t* m_telnet = nullptr;
    uint32_t m_baudRate;
    State m_state = State::Negotiating;
    bool m_settingsSent = false;
    int m_answersLeft = 0;
    std::string m_refusal;
    std::string m_output;
    std::string m_data;
};
