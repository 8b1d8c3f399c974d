#include "transport.hpp"

#include "callback_bridge.hpp"
#include "tls_server.hpp"
#include "wide_text.hpp"

namespace sim {

std::vector<Transport> availableTransports() {
    std::vector<Transport> transports{Transport::Tcp, Transport::RtuOverTcp, Transport::Udp, Transport::Rtu,
                                      Transport::Ascii};
    if (tlsBuilt()) transports.push_back(Transport::Tls);
    return transports;
}

std::string errorText(int errorCode) { return toUtf8(mbusSlave_getErrorText(errorCode)); }

std::string transportTitle(Transport transport) {
    switch (transport) {
        case Transport::Tcp: return "Modbus/TCP";
        case Transport::RtuOverTcp: return "Modbus RTU over TCP";
        case Transport::Udp: return "Modbus/UDP";
        case Transport::Rtu: return "Modbus RTU";
        case Transport::Ascii: return "Modbus ASCII";
        case Transport::Tls: return "Modbus/TCP Security";
    }
    return "Modbus";
}

std::string endpointText(const SimOptions& options) {
    if (!isSerial(options.transport)) return options.host + ":" + std::to_string(options.port);
    static constexpr char kParity[] = {'N', 'O', 'E'};  // PARITY_NONE, PARITY_ODD, PARITY_EVEN
    static_assert(PARITY_NONE == 0 && PARITY_ODD == 1 && PARITY_EVEN == 2);
    return options.device + " " + std::to_string(options.baud) + " " + std::to_string(options.dataBits) +
           kParity[options.parity] + std::to_string(options.stopBits) +
           (options.rs485DelayMs > 0 ? " RS-485 (" + std::to_string(options.rs485DelayMs) + " ms turnaround)" : "");
}

namespace {

MbusSlaveHandle* createHandle(Transport transport) {
    switch (transport) {
        case Transport::Tcp: return mbusSlave_createTcpProtocol();
        case Transport::RtuOverTcp: return mbusSlave_createRtuOverTcpProtocol();
        case Transport::Rtu: return mbusSlave_createRtuProtocol();
        case Transport::Udp: return mbusSlave_createUdpProtocol();
        case Transport::Ascii: return mbusSlave_createAsciiProtocol();
        case Transport::Tls: return createTlsHandle();
    }
    return nullptr;
}

// Runs one setting; on failure names it in error.
bool apply(int result, const char* what, std::string& error) {
    if (result == MB_OK) return true;
    error = std::string(what) + ": " + errorText(result);
    return false;
}

}  // namespace

ServerHandle createServer(const SimOptions& options, std::string& error) {
    ServerHandle owner(createHandle(options.transport));
    MbusSlaveHandle* handle = owner.get();
    if (handle == nullptr) {
        error = std::string("cannot create the ") + transportName(options.transport) + " server";
        return nullptr;
    }
    bool ok = apply(mbusSlave_setTimeout(handle, options.timeOutMs), "--timeout", error);
    if (options.noExceptions) mbusSlave_disableExceptionReplies(handle);
    if (ok && !isSerial(options.transport)) {
        ok = apply(mbusSlave_setPort(handle, options.port), "--port", error);
        if (ok && options.connectionTimeOutMs) {
            ok = apply(mbusSlave_setConnectionTimeOut(handle, *options.connectionTimeOutMs), "--conn-timeout", error);
        }
        if (options.transport == Transport::Udp) {
            mbusSlave_configureUdpNotifications(handle, &onRequestServed);
        } else {
            mbusSlave_configureTcpNotifications(handle, &onConnectionAccepted, &onConnectionClosed, &onRequestServed);
        }
    }
    if (ok && options.transport == Transport::Tls) ok = configureTls(handle, options, error);
    if (ok && isSerial(options.transport)) {
        ok = apply(mbusSlave_enableRs485Mode(handle, options.rs485DelayMs), "--rs485", error);
        if (ok && options.transport == Transport::Rtu) {
            ok = apply(mbusSlave_setFrameTolerance(handle, options.frameToleranceMs.value_or(0)), "--tolerance", error);
        }
    }
    if (!ok) owner.reset();
    return owner;
}

int configureUnits(MbusSlaveHandle* handle, const SimOptions& options) {
    for (int unit = 0; unit <= library::kMaxSlaveAddress; ++unit) {
        if (!options.units.test(static_cast<std::size_t>(unit))) continue;
        const UnitCallbacks& c = callbacksFor(unit);
        const int result = mbusSlave_configureCallbacks(
            handle, unit, c.readHoldingRegisters, c.writeHoldingRegisters, c.readInputRegisters, c.readCoils,
            c.writeCoils, c.readInputDiscretes, c.readRegisters32, c.writeRegisters32, c.readExceptionStatus,
            c.signalTimeOut, c.readFileRecord, c.writeFileRecord, c.reportSlaveId, c.runIndicatorStatus,
            c.readDeviceIdObject);
        if (result != MB_OK) return result;
    }
    return MB_OK;
}

int startServer(MbusSlaveHandle* handle, const SimOptions& options) {
    if (!isSerial(options.transport)) return mbusSlave_startupIpServer(handle, options.host.c_str());
    std::u16string device;
    if (!toUtf16(options.device, device)) return MB_ERR_PORT_OPEN;
    // MbWideChar is a 16-bit unit on every system (wchar_t on Windows).
    static_assert(sizeof(MbWideChar) == sizeof(char16_t));
    return mbusSlave_startupSerialServer(handle, reinterpret_cast<const MbWideChar*>(device.c_str()), options.baud, options.dataBits, options.stopBits,
                                         options.parity);
}

std::string startupFailure(int errorCode, const SimOptions& options) {
    std::string hint;
    switch (errorCode) {
        case MB_ERR_TCP_PORT_BOUND:
            hint = "another program listens on port " + std::to_string(options.port) + "; choose another with --port";
            break;
        case MB_ERR_NO_PERMISSION:
            hint = options.port < 1024 ? "ports below 1024 need root (or CAP_NET_BIND_SERVICE); try --port 5020"
                                       : "the system refused the port; try another with --port";
            break;
        case MB_ERR_TCPIP_CONNECTION:
            hint = "--host '" + options.host + "' is neither an IPv4 address nor a name this machine can resolve";
            break;
        case MB_ERR_TCP_PORT_NOT_AVAILABLE:
            hint = "--host '" + options.host + "' is not an address of this machine; try 127.0.0.1 or 0.0.0.0";
            break;
        case MB_ERR_PORT_OPEN:
            hint = isSerial(options.transport)
                       ? "no such device or it cannot be opened; list them with ls /dev/ttyS* /dev/ttyUSB* "
                         "(COM1 is /dev/ttyS0); users other than root need the dialout group"
                       : "the system refused a socket";
            break;
        case MB_ERR_SERIAL_PORT_ALREADY_OPEN:
            hint = "the device is busy: another program holds " + options.device + " (see fuser " +
                   options.device + ")";
            break;
        case MB_ERR_ILLEGAL_ARGUMENT:
            hint = "the device refused the line settings; try another --baud, --databits, --stopbits or --parity";
            if (options.parity != PARITY_NONE) hint += "; a pseudo-terminal takes no parity: --parity none";
            break;
        default:
            break;
    }
    std::string line = "cannot start the " + transportTitle(options.transport) + " server on " + endpointText(options) +
                       ": " + errorText(errorCode);
    if (!hint.empty()) line += " (hint: " + hint + ")";
    return line;
}

}  // namespace sim
