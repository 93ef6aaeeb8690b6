#include "link/Rfc2217Codec.h"

#include <libtelnet.h>

namespace {

// Unused in proxy mode, where the negotiation is answered in Handle; the library asks for a table.
const telnet_telopt_t kOptions[] = {{-1, 0, 0}};

std::string Word(uint32_t value) {
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
}

uint32_t ReadWord(const std::string& value) {
    uint32_t word = 0;
    for (unsigned char c : value)
        word = (word << 8) | c;
    return word;
}

const char* SettingName(unsigned char command) {
    switch (command) {
    case CRfc2217Codec::SetBaudRate:
        return "baud rate";
    case CRfc2217Codec::SetDataSize:
        return "data bits";
    case CRfc2217Codec::SetParity:
        return "parity";
    case CRfc2217Codec::SetStopSize:
        return "stop bits";
    default:
        return "flow control";
    }
}

} // namespace

CRfc2217Codec::CRfc2217Codec(uint32_t baudRate) : m_baudRate(baudRate) {
    // Proxy mode: every negotiation the server sends is seen here, its refusals included (the
    // library's own option tracking drops a refusal of an option we offered without a word).
    m_telnet = telnet_init(kOptions, &CRfc2217Codec::OnEvent, TELNET_FLAG_PROXY, this);
}

CRfc2217Codec::~CRfc2217Codec() {
    if (m_telnet)
        telnet_free(m_telnet);
}

void CRfc2217Codec::OnEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<CRfc2217Codec*>(self)->Handle(*event);
}

void CRfc2217Codec::Start() {
    if (!m_telnet) {
        Refuse("cannot start a telnet session (out of memory)");
        return;
    }
    telnet_negotiate(m_telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(m_telnet, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(m_telnet, TELNET_WILL, TELNET_TELOPT_SGA);
    telnet_negotiate(m_telnet, TELNET_DO, TELNET_TELOPT_SGA);
    telnet_negotiate(m_telnet, TELNET_WILL, kComPortOption);
}

void CRfc2217Codec::Feed(const char* bytes, size_t size) {
    if (m_telnet && size > 0)
        telnet_recv(m_telnet, bytes, size);
}

void CRfc2217Codec::SendData(const char* bytes, size_t size) {
    if (m_telnet && size > 0)
        telnet_send(m_telnet, bytes, size);
}

void CRfc2217Codec::PurgeReceived() {
    if (!m_telnet)
        return;
    const char purge[] = {static_cast<char>(PurgeData), 1}; // 1: the server's receive buffer
    telnet_subnegotiation(m_telnet, kComPortOption, purge, sizeof purge);
}

std::string CRfc2217Codec::TakeOutput() {
    std::string output;
    output.swap(m_output);
    return output;
}

std::string CRfc2217Codec::TakeData() {
    std::string data;
    data.swap(m_data);
    return data;
}

void CRfc2217Codec::Refuse(const std::string& reason) {
    if (m_state == State::Refused)
        return;
    m_state = State::Refused;
    m_refusal = reason;
}

void CRfc2217Codec::SendSettings() {
    if (m_settingsSent)
        return;
    m_settingsSent = true;
    const auto send = [this](unsigned char command, const std::string& value) {
        const std::string sub = std::string(1, static_cast<char>(command)) + value;
        telnet_subnegotiation(m_telnet, kComPortOption, sub.data(), sub.size());
    };
    send(SetBaudRate, Word(m_baudRate));
    send(SetDataSize, std::string(1, 8));
    send(SetParity, std::string(1, 1));   // none
    send(SetStopSize, std::string(1, 1)); // one
    send(SetControl, std::string(1, 1));  // no flow control
    m_answersLeft = 5;
}

void CRfc2217Codec::OnAnswer(unsigned char command, const std::string& value) {
    if (command < SetBaudRate || command > SetControl || m_state != State::Negotiating)
        return; // a later answer, or one to a command not asked
    uint32_t asked = 0, given = 0;
    if (command == SetBaudRate) {
        asked = m_baudRate;
        given = value.size() == 4 ? ReadWord(value) : 0;
    } else {
        asked = command == SetDataSize ? 8 : 1;
        given = value.size() == 1 ? static_cast<unsigned char>(value[0]) : 0;
    }
    if (given != asked) {
        Refuse(std::string("set the ") + SettingName(command) + " to " + std::to_string(given) +
               " instead of " + std::to_string(asked));
        return;
    }
    if (--m_answersLeft == 0)
        m_state = State::Ready;
}

void CRfc2217Codec::Handle(const telnet_event_t& event) {
    switch (event.type) {
    case TELNET_EV_DATA:
        m_data.append(event.data.buffer, event.data.size);
        break;
    case TELNET_EV_SEND:
        m_output.append(event.data.buffer, event.data.size);
        break;
    case TELNET_EV_DO: // the server accepts an option of ours, or asks for one we do not have
        if (event.neg.telopt == kComPortOption)
            SendSettings();
        else if (event.neg.telopt != TELNET_TELOPT_BINARY && event.neg.telopt != TELNET_TELOPT_SGA)
            telnet_negotiate(m_telnet, TELNET_WONT, event.neg.telopt);
        break;
    case TELNET_EV_WILL: // the same for the server's side of an option
        if (event.neg.telopt != TELNET_TELOPT_BINARY && event.neg.telopt != TELNET_TELOPT_SGA)
            telnet_negotiate(m_telnet, TELNET_DONT, event.neg.telopt);
        break;
    case TELNET_EV_DONT:
        if (event.neg.telopt == kComPortOption)
            Refuse("refused the COM-PORT-OPTION");
        break;
    case TELNET_EV_SUBNEGOTIATION:
        if (event.sub.telopt == kComPortOption && event.sub.size >= 1) {
            const auto command = static_cast<unsigned char>(event.sub.buffer[0]);
            // Line-state and modem-state notifications (106, 107) and purge answers (112)
            // carry nothing the meter's stream needs.
            if (command > kServerOffset)
                OnAnswer(static_cast<unsigned char>(command - kServerOffset),
                         std::string(event.sub.buffer + 1, event.sub.size - 1));
        }
        break;
    case TELNET_EV_ERROR:
        Refuse(std::string("broke the telnet protocol: ") + event.error.msg);
        break;
    default:
        break;
    }
}
